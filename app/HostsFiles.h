#pragma once

#include <QString>
#include <QStringList>

class LogSink;
class Platform;

// The library of hosts lists: one file per list in this folder, relative to the working directory.
inline const QString hostsDir = QStringLiteral("./hosts/");

// The apply's display text: the names joined by ", ", in double quotes.
QString quotedSelection(const QStringList &names);

// The library path of a list, or empty text for a name that is not a plain file name (a path
// could reach outside the library).
QString libraryPath(const QString &name);

// Copies each file into `libraryDir` under its own name, never over an existing file, with one
// success or failure line per file.
void importHostsFiles(const QStringList &paths, const QString &libraryDir, LogSink &log);

// Starts the editor of the settings on `argument` in `workingDir`; a level-3 line in `log` (when
// there is one) when it cannot start.
void openInEditor(Platform &platform, LogSink *log, const QString &editor, const QString &argument,
                  const QString &workingDir);
