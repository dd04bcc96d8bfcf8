#pragma once

#include "log/LogJournal.h"
#include "log/LogLine.h"
#include "log/LogSink.h"

#include <QElapsedTimer>
#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>

class LogView;
class QGridLayout;

namespace LogStatus {
enum : int { Detailed = 0, Brief = 1, Off = 2 };
}

// The activity log: one time-stamped line per entry, styled by level, in one of three modes. Every
// line goes to disk as it is logged (LogJournal), and the file is named ./log/<date>_<time>.log when
// the program quits. The panel shows the most recent `maxShownLines` lines (LogView, which builds
// the text of the lines it paints only), and repaints at most every `paintIntervalMs`: a line logged
// during a long step of the GUI thread still shows then.
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
    // The browser, holding every line logged so far (up to the bound).
    LogView *browserWidget();

    static constexpr int maxShownLines = 10000;
    static constexpr int paintIntervalMs = 30;

public slots:
    void save();
    void setStatus(const QString &mode);
    void Detailed();
    void Brief();
    void Off();

private:
    void changeStatus(int newStatus);
    // Shows the lines logged since the last paint at once.
    void showPending();

    QTextCharFormat levelFormats[6];
    int status = LogStatus::Detailed;
    QGridLayout *layout;
    LogView *browser;
    LogClock clock;
    LogJournal journal;
    bool painted = true; // every line appended is shown
    QElapsedTimer sincePaint;
    QTimer paintTimer;
};
