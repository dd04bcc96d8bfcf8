#pragma once

#include <QString>
#include <QStringList>

// Command texts for cmd.exe, built so that a path with blanks works and no path can run anything:
// every path is quoted, and a path that could break out of its quotes is refused.

// The arguments of cmd.exe that concatenate `sources` in binary mode over `target`, or empty text
// when a path cannot be quoted safely or there is no source. /D skips the AutoRun commands of the
// registry and /V:OFF keeps !NAME! from expanding, whatever the registry switches on.
QString windowsCopyCommand(const QStringList &sources, const QString &target);

// The Run key's command that starts `executable` hidden, or empty text when there is no executable.
QString windowsRunCommand(const QString &executable);
