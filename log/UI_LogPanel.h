#pragma once

#include "log/LogSink.h"

#include <QTextCharFormat>
#include <QWidget>

class QGridLayout;
class QTextBrowser;

namespace LogStatus {
enum : int { Detailed = 0, Brief = 1, Off = 2 };
}

// The activity log: one time-stamped line per entry, styled by level, in one of three modes.
// Written to ./log/<date>_<time>.log when the program quits.
class UI_LogPanel : public QWidget, public LogSink {
    Q_OBJECT

public:
    UI_LogPanel(const QString &mode, QWidget *parent = nullptr);
    ~UI_LogPanel() override;

    void appendLog(const QString &text, int level, bool detailedOnly) override;
    bool records(bool detailedOnly) const override;

    // The file name save() writes to at `when`, relative to the working directory.
    static QString fileNameFor(const QDateTime &when);

    int logStatus() const { return status; }
    QTextBrowser *browserWidget() const { return browser; }

public slots:
    void save();
    void setStatus(const QString &mode);
    void Detailed();
    void Brief();
    void Off();

private:
    void changeStatus(int newStatus);

    QTextCharFormat timeFormat;
    QTextCharFormat levelFormats[6];
    int status = LogStatus::Detailed;
    QGridLayout *layout;
    QTextBrowser *browser;
};
