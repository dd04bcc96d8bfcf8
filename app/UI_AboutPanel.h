#pragma once

#include <QDialog>

class QGridLayout;

// Icon, version, the product site's link and the legal notice, in a small fixed-size dialog.
class UI_AboutPanel : public QDialog {
    Q_OBJECT

public:
    explicit UI_AboutPanel(QWidget *parent = nullptr);
    ~UI_AboutPanel() override;

public slots:
    void openUrl(const QString &url);

private:
    QGridLayout *aboutLayout;
};
