#pragma once

#include "log/JournalWriter.h"
#include "log/LogLine.h"

#include <QObject>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The lines of a run on disk as they are logged, written by a thread of their own (JournalWriter)
// so that a slow or full disk never holds up the server. Lines are handed over at least every
// `handOverMs`; finish() names the run's files as complete. Without a ./log/ nothing is written.
class LogJournal : public QObject {
public:
    // `report` gets the journal's own lines (a failed write, lines lost, old files removed).
    using Reporter = std::function<void(int level, const QString &message)>;
    LogJournal(const QString &folder, Reporter report, QObject *parent = nullptr);
    // A run that never finished keeps its lines, under the unfinished names.
    ~LogJournal() override;

    void append(const LogLine &line);
    // Writes what is pending and names the run's files after `quitStem` ("yyyy-MM-dd_hh.mm.ss").
    void finish(const QString &quitStem);

    static constexpr int handOverMs = 250;

private:
    struct Batch {
        std::vector<LogLine> lines;
        qint64 lost;
    };

    void handOver();
    void deliver(std::vector<JournalWriter::Report> reports);
    void work();
    // Ends the thread once it has written what was handed over; the writer is this thread's then.
    void stopWriting();

    Reporter report;
    QTimer handOverTimer;
    std::vector<LogLine> batch;
    qint64 dropped = 0; // lines the thread could not be given, for falling too far behind
    bool finished = false;

    // Shared with the writing thread, under `mutex`.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Batch> queue;
    std::size_t queuedLines = 0;
    bool stopping = false;
    bool writerFailing = false;
    std::vector<JournalWriter::Report> reports;

    JournalWriter writer;
    std::thread thread;
};
