#pragma once

#include <QByteArray>
#include <QString>

// One line of the activity log as it is kept: its text is built only where it is shown or written,
// so a line costs the server little more than its message.
struct LogLine {
    qint64 localMsecs; // local wall-clock time, milliseconds since 1970-01-01 00:00 local
    int level;
    QString message; // escaped already (escapedForLog)

    // "yyyy-MM-dd hh:mm:ss:zzz"
    QString stamp() const;
    // The stamp, " : " and the message, as the panel shows it.
    QString text() const;
    // The line as the file holds it: UTF-8, a no-break space as a space, a line feed at its end.
    void appendTo(QByteArray &file) const;
};

// The local time for log lines. The offset from UTC is looked up once a second, not per line: the
// C library's lookup reads the time zone file each time.
class LogClock {
public:
    qint64 localMsecs();

private:
    qint64 offsetSecond = -1; // the UTC second the offset was looked up in
    qint64 offsetMsecs = 0;
};
