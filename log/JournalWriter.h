#pragma once

#include "log/LogLine.h"

#include <QDateTime>
#include <QFile>
#include <QString>

#include <vector>

// Writes a run's log lines into the log folder and keeps the folder within its bound. A run's file
// is cut into parts: `<start>.log.unfinished`, `<start>.1.log.unfinished`, ...; finish() names them
// after the quit, `<quit>.0001.log`, ... and the last `<quit>.log`, so that they sort together. When
// the files the program wrote would pass the bound, the oldest go: other runs' first, then this run's
// oldest parts; files of other names are never touched. A write the disk refuses, whole or in part,
// is taken back to the last full line and its lines are kept (up to `keptLimit` bytes, then counted)
// until a later write() gets them onto the disk. Not thread-safe: one thread calls it.
class JournalWriter {
public:
    struct Report {
        int level;
        QString message;
    };

    // `folder` ends with a slash; nothing is written when it does not exist.
    JournalWriter(const QString &folder, qint64 bound);

    // Writes `lines` after those kept from before; `lostBefore` lines were dropped on the way here.
    void write(const std::vector<LogLine> &lines, qint64 lostBefore = 0);
    // Writes what is kept and names the parts after `quitStem` ("yyyy-MM-dd_hh.mm.ss"). A run whose
    // lines could not all be written keeps its unfinished names; gives whether they were renamed.
    bool finish(const QString &quitStem);
    // What the writer has to tell the user since the last call, as log lines.
    std::vector<Report> takeReports();
    bool failing() const { return !failure.isEmpty(); }

    // The name of a run's files at `when`: "yyyy-MM-dd_hh.mm.ss".
    static QString stemFor(const QDateTime &when);
    // 10 % of the folder's file system, at most 1 GiB.
    static qint64 boundFor(const QString &folder);

    static constexpr qint64 maxPartSize = qint64(64) << 20;
    static constexpr qsizetype keptLimit = 4 << 20;

private:
    struct File {
        QString name; // in the folder
        qint64 size;
    };

    void drain();
    bool openPart();
    void makeRoom(qint64 bytes);
    void fail(const QString &why);
    qint64 used() const;

    QString folder;
    qint64 bound;
    qint64 partLimit;
    bool scanned = false;
    std::vector<File> older; // other runs' files, oldest first
    std::vector<File> parts; // this run's, the open one last
    QString stem;
    int nextPart = 0;
    QFile part;
    QByteArray kept;      // whole lines not on disk yet
    qsizetype keptAt = 0; // the first of them
    qint64 lost = 0;
    QString failure; // why the last write failed; empty while writes succeed
    std::vector<Report> reports;
};
