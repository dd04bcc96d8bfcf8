#include "log/LogJournal.h"

#include "log/LogSink.h"

#include <QDateTime>

namespace {

constexpr int flushIntervalMs = 1000;
constexpr qsizetype flushBytes = 1 << 20;

} // namespace

LogJournal::LogJournal(QObject *parent) : QObject(parent)
{
    flushTimer.setSingleShot(true);
    connect(&flushTimer, &QTimer::timeout, this, &LogJournal::flush);
}

LogJournal::~LogJournal()
{
    flush(); // a run that never finished keeps its lines, under the unfinished name
}

void LogJournal::append(const QString &line)
{
    if (finished)
        return;
    // As the whole-text save of the panel wrote them: UTF-8, a no-break space as a space.
    pending += QString(line).replace(QChar(0xa0), QLatin1Char(' ')).toUtf8() + '\n';
    if (pending.size() >= flushBytes)
        flush();
    else if (!flushTimer.isActive())
        flushTimer.start(flushIntervalMs);
}

void LogJournal::flush()
{
    flushTimer.stop();
    if (pending.isEmpty())
        return;
    if (!file.isOpen()) {
        // Named after the first line's time; an older run's file of the same second stays.
        const QString stem =
            logDir + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
        QString name = stem + QStringLiteral(".log.unfinished");
        for (int n = 2; QFile::exists(name); ++n)
            name = stem + QLatin1Char('-') + QString::number(n) + QStringLiteral(".log.unfinished");
        file.setFileName(name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            pending.clear(); // no ./log/, or not writable: nothing is kept, as at quit
            return;
        }
    }
    file.write(pending);
    file.flush();
    pending.clear();
}

void LogJournal::finish(const QString &finalName)
{
    if (finished)
        return;
    flush();
    finished = true;
    if (!file.isOpen())
        return;
    file.close();
    QFile::remove(finalName);
    file.rename(finalName);
}
