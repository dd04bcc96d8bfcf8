#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QTimer>

// The lines of a run on disk as they are logged. They go to ./log/<start>.log.unfinished, named
// after the run's start so that a run that never ended shows as such (the next run leaves that
// file alone), flushed at least once a second; finish() gives the file its final name. Without a
// writable ./log/ nothing is written.
class LogJournal : public QObject {
public:
    explicit LogJournal(QObject *parent = nullptr);
    ~LogJournal() override;

    // One line, without its line feed.
    void append(const QString &line);
    // Writes what is pending and renames the file to `finalName`, replacing a file of that name.
    void finish(const QString &finalName);

private:
    void flush();

    QFile file;
    QByteArray pending;
    QTimer flushTimer;
    bool finished = false;
};
