#pragma once

#include <QString>
#include <QStringList>

// Command texts for cmd.exe, built so that a path with blanks works and no path can run anything:
// every path is quoted, and a path that could break out of its quotes is refused.

// The text after "cmd /C " that concatenates `sources` in binary mode over `target`, or empty text
// when a path cannot be quoted safely or there is no source.
QString windowsCopyCommand(const QStringList &sources, const QString &target);
