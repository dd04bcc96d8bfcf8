#include "options/OpenInEditor.h"

#include "log/LogSink.h"
#include "platform/Platform.h"

void openInEditor(Platform &platform, LogSink *log, const QString &editor, const QString &argument,
                  const QString &workingDir)
{
    if (!platform.startEditor(editor, argument, workingDir) && log)
        log->appendLog(QStringLiteral("Can't start the editor '%1'! Set one in the Options").arg(editor),
                       LogLevel::Fails, false);
}
