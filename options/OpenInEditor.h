#pragma once

#include <QString>

class LogSink;
class Platform;

// Starts the editor of the settings on `argument` in `workingDir`; a level-3 line in `log` (when
// there is one) when it cannot start.
void openInEditor(Platform &platform, LogSink *log, const QString &editor, const QString &argument,
                  const QString &workingDir);
