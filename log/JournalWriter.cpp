#include "log/JournalWriter.h"

#include "log/LogSink.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QStorageInfo>

#include <algorithm>

namespace {

// The names the program gives its log files; no other file of the folder is ever removed.
const QRegularExpression
    ourName(QStringLiteral(R"(^\d{4}-\d\d-\d\d_\d\d\.\d\d\.\d\d(-\d+)?(\.\d+)?\.log(\.unfinished)?$)"));

constexpr qsizetype chunkSize = 256 << 10;

QString mebibytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1 << 20), 'f', 1) + QStringLiteral(" MiB");
}

} // namespace

JournalWriter::JournalWriter(const QString &folder, qint64 bound)
    : folder(folder), bound(bound), partLimit(std::clamp<qint64>(bound / 4, 1, maxPartSize))
{
}

QString JournalWriter::stemFor(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
}

qint64 JournalWriter::boundFor(const QString &folder)
{
    constexpr qint64 most = qint64(1) << 30;
    const QStorageInfo storage(folder);
    return storage.isValid() && storage.bytesTotal() > 0 ? std::min(storage.bytesTotal() / 10, most) : most;
}

void JournalWriter::write(const std::vector<LogLine> &lines, qint64 lostBefore)
{
    if (!part.isOpen() && parts.empty() && !QFileInfo(folder).isDir())
        return; // no log folder: the run writes no file
    lost += lostBefore;
    for (const LogLine &line : lines) {
        const qsizetype waiting = kept.size() - keptAt;
        if (failing() && waiting >= keptLimit) {
            ++lost;
            continue;
        }
        line.appendTo(kept);
        if (!failing() && waiting >= chunkSize)
            drain();
    }
    drain();
}

void JournalWriter::drain()
{
    while (keptAt < kept.size()) {
        if (!part.isOpen() && !openPart())
            return;
        const qint64 partSize = parts.back().size;
        const qint64 room = std::max<qint64>(partLimit - partSize, 0);
        qsizetype end = keptAt + qsizetype(std::min<qint64>(kept.size() - keptAt, room));
        end = end > keptAt ? kept.lastIndexOf('\n', end - 1) + 1 : 0;
        if (end <= keptAt) {
            if (partSize > 0) { // the part is full: the next one
                part.close();
                continue;
            }
            end = kept.indexOf('\n', keptAt) + 1; // a line longer than a part goes whole
        }
        makeRoom(end - keptAt);
        const qint64 size = end - keptAt;
        if (part.write(kept.constData() + keptAt, size) != size) {
            const QString why = part.errorString();
            // Never a cut line: what went of a refused write is taken back; a part that cannot be
            // cut back is left for a new one.
            if (!part.resize(partSize))
                part.close();
            fail(why);
            return;
        }
        parts.back().size += size; // makeRoom() may have taken older parts from the front
        keptAt = end;
        if (keptAt > kept.size() / 2) {
            kept.remove(0, keptAt);
            keptAt = 0;
        }
    }
    if (failing()) {
        reports.push_back({LogLevel::Succeeds, QStringLiteral("The log file is written again")});
        failure.clear();
    }
    if (lost > 0) {
        reports.push_back(
            {LogLevel::Fails,
             QStringLiteral("%1 log line(s) lost: the log file could not take them").arg(lost)});
        lost = 0;
    }
}

bool JournalWriter::openPart()
{
    if (!scanned) {
        scanned = true;
        const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::System, QDir::Name);
        for (const QFileInfo &entry : entries) {
            if (!entry.isSymLink() && ourName.match(entry.fileName()).hasMatch())
                older.push_back({entry.fileName(), entry.size()});
        }
    }
    if (stem.isEmpty()) {
        // Named after the first line's time; an older run's file of the same second stays.
        const QString base = stemFor(QDateTime::currentDateTime());
        stem = base;
        for (int n = 2; QFile::exists(folder + stem + QStringLiteral(".log.unfinished")); ++n)
            stem = base + QLatin1Char('-') + QString::number(n);
    }
    const QString name = stem + (nextPart == 0 ? QString() : QLatin1Char('.') + QString::number(nextPart)) +
                         QStringLiteral(".log.unfinished");
    part.setFileName(folder + name);
    if (!part.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        fail(part.errorString());
        return false;
    }
    parts.push_back({name, 0});
    ++nextPart;
    return true;
}

qint64 JournalWriter::used() const
{
    qint64 total = 0;
    for (const std::vector<File> *files : {&older, &parts})
        for (const File &file : *files)
            total += file.size;
    return total;
}

void JournalWriter::makeRoom(qint64 bytes)
{
    qint64 total = used() + bytes;
    int removed = 0;
    qint64 freed = 0;
    while (total > bound) {
        std::vector<File> &from = older.empty() ? parts : older;
        if (&from == &parts && parts.size() < 2)
            break; // only the part being written is left
        const File oldest = from.front();
        from.erase(from.begin());
        total -= oldest.size; // counted no more, removed or not
        if (!QFile::remove(folder + oldest.name)) {
            reports.push_back(
                {LogLevel::Fails, QStringLiteral("Can't remove the old log file %1").arg(oldest.name)});
            continue;
        }
        ++removed;
        freed += oldest.size;
    }
    if (removed > 0)
        reports.push_back(
            {LogLevel::Plain, QStringLiteral("The log folder is kept within %1: %2 old log file(s) "
                                             "removed, %3")
                                  .arg(mebibytes(bound))
                                  .arg(removed)
                                  .arg(mebibytes(freed))});
}

void JournalWriter::fail(const QString &why)
{
    const bool first = !failing();
    failure = why.isEmpty() ? QStringLiteral("unknown error") : why;
    if (first)
        reports.push_back(
            {LogLevel::Fails, QStringLiteral("Can't write the log file %1: %2. Its lines are kept "
                                             "until it can take them")
                                  .arg(parts.empty() ? folder : parts.back().name, failure)});
}

bool JournalWriter::finish(const QString &quitStem)
{
    const bool noneLost = lost == 0;
    drain();
    part.close();
    if (failing() || !noneLost)
        return false; // the unfinished names say the run's file is not whole
    for (std::size_t at = 0; at < parts.size(); ++at) {
        const QString name =
            quitStem +
            (at + 1 == parts.size() ? QString()
                                    : QStringLiteral(".%1").arg(at + 1, 4, 10, QLatin1Char('0'))) +
            QStringLiteral(".log");
        QFile::remove(folder + name); // as described, a file of the same name is replaced
        if (!QFile::rename(folder + parts[at].name, folder + name))
            return false;
    }
    return true;
}

std::vector<JournalWriter::Report> JournalWriter::takeReports()
{
    return std::exchange(reports, {});
}
