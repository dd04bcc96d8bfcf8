#include "log/LogJournal.h"

#include "platform/ThreadPriority.h"

namespace {

// A flood hands its lines over before the timer; a thread this far behind loses lines, counted.
constexpr std::size_t batchLines = 8192;
constexpr std::size_t mostQueuedLines = 400000;
constexpr int retryMs = 1000;

} // namespace

LogJournal::LogJournal(const QString &folder, Reporter report, QObject *parent)
    : QObject(parent), report(std::move(report)), writer(folder, JournalWriter::boundFor(folder))
{
    handOverTimer.setSingleShot(true);
    connect(&handOverTimer, &QTimer::timeout, this, &LogJournal::handOver);
}

LogJournal::~LogJournal()
{
    stopWriting();
    if (!finished)
        writer.write(batch, dropped);
}

void LogJournal::append(const LogLine &line)
{
    if (finished)
        return;
    batch.push_back(line);
    if (batch.size() >= batchLines)
        handOver();
    else if (!handOverTimer.isActive())
        handOverTimer.start(handOverMs);
}

void LogJournal::handOver()
{
    handOverTimer.stop();
    if (finished)
        return;
    std::vector<JournalWriter::Report> news;
    bool handed;
    bool failing;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (queuedLines + batch.size() > mostQueuedLines) {
            dropped += qint64(batch.size());
            batch.clear();
        }
        failing = writerFailing;
        // Also when empty while the writer fails: it tries again.
        handed = !batch.empty() || dropped > 0 || failing;
        if (handed) {
            queuedLines += batch.size();
            queue.push_back({std::exchange(batch, {}), std::exchange(dropped, 0)});
        }
        news.swap(reports);
    }
    if (handed) {
        if (!thread.joinable())
            thread = std::thread(&LogJournal::work, this);
        wake.notify_one();
        // Once more afterwards, to show what the writer has to say about it.
        handOverTimer.start(failing ? retryMs : handOverMs);
    }
    deliver(std::move(news));
}

void LogJournal::deliver(std::vector<JournalWriter::Report> news)
{
    for (const JournalWriter::Report &line : news)
        report(line.level, line.message);
}

void LogJournal::work()
{
    yieldToOtherThreads(); // the server's thread comes first; the lines can wait
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return !queue.empty() || stopping; });
        if (queue.empty())
            return;
        std::deque<Batch> taken;
        taken.swap(queue);
        queuedLines = 0;
        lock.unlock();
        for (const Batch &next : taken)
            writer.write(next.lines, next.lost);
        std::vector<JournalWriter::Report> news = writer.takeReports();
        const bool failing = writer.failing();
        lock.lock();
        reports.insert(reports.end(), news.begin(), news.end());
        writerFailing = failing;
    }
}

void LogJournal::stopWriting()
{
    if (!thread.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void LogJournal::finish(const QString &quitStem)
{
    if (finished)
        return;
    finished = true;
    handOverTimer.stop();
    stopWriting();
    writer.write(batch, dropped);
    batch.clear();
    writer.finish(quitStem);
    std::vector<JournalWriter::Report> news = std::exchange(reports, {});
    const std::vector<JournalWriter::Report> last = writer.takeReports();
    news.insert(news.end(), last.begin(), last.end());
    deliver(std::move(news)); // shown, too late for the file
}
