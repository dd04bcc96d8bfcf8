#pragma once

// The library's folder and paths, and the editor's start, live below the shell in options/.
#include "options/HostsLibrary.h"
#include "options/OpenInEditor.h"

#include <QString>
#include <QStringList>

class LogSink;

// The apply's display text: the names joined by ", ", in double quotes.
QString quotedSelection(const QStringList &names);

// Copies each file into `libraryDir` under its own name, never over an existing file, with one
// success or failure line per file.
void importHostsFiles(const QStringList &paths, const QString &libraryDir, LogSink &log);
