#pragma once

#include <QString>

// The folder of the log files, one per run; the program does not create it.
inline const QString logDir = QStringLiteral("./log/");

// What a log line reports; sets the style of its text. Any other value is shown as Plain.
namespace LogLevel {
enum : int {
    Plain = 0,    // summaries
    Begins = 1,   // an action begins
    Succeeds = 2, // an action succeeded
    Fails = 3,    // an action failed
    Question = 4, // a DNS question received
    Answer = 5,   // the DNS answer sent
    Emphasis = 6,
};
}

// `text` with every character that could break a log line or forge one (C0 and C1 controls, DEL,
// the Unicode line and paragraph separators) written as \xNN or \uNNNN. Names from the network and
// from files (queries, imported files, lists) reach the log through this.
QString escapedForLog(const QString &text);

// Where logic without widgets reports to the user; the activity log panel is the one in the program.
class LogSink {
public:
    virtual ~LogSink() = default;
    // `detailedOnly` lines are dropped unless the log is in its Detailed mode.
    virtual void appendLog(const QString &text, int level, bool detailedOnly) = 0;
    // Whether a line with this flag would be kept; lets a busy caller skip building its text.
    virtual bool records(bool /*detailedOnly*/) const { return true; }
};
