#pragma once

#include <QProgressBar>

// The progress of one list download, shown in its row's Source cell. Busy until the server
// announces the size.
class DownloadProgressBar : public QProgressBar {
    Q_OBJECT

public:
    explicit DownloadProgressBar(QWidget *parent = nullptr);

public slots:
    // `bytesTotal` is negative while no size is known.
    void updateProgress(qint64 bytesReceived, qint64 bytesTotal);
};
