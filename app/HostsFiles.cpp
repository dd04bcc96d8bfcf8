#include "app/HostsFiles.h"

#include "log/LogSink.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString quotedSelection(const QStringList &names)
{
    return QLatin1Char('"') + names.join(QStringLiteral(", ")) + QLatin1Char('"');
}

QString libraryPath(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QString();
    return hostsDir + name;
}

void importHostsFiles(const QStringList &paths, const QString &libraryDir, LogSink &log)
{
    for (const QString &path : paths) {
        const QString name = QFileInfo(path).fileName();
        // QFile::copy never overwrites: an existing file makes it fail.
        if (QFile::copy(path, QDir(libraryDir).filePath(name)))
            log.appendLog(QStringLiteral("'%1' imported successfully!").arg(name), LogLevel::Succeeds, false);
        else
            log.appendLog(QStringLiteral("'%1' import failed!").arg(name), LogLevel::Fails, false);
    }
}

void openInEditor(Platform &platform, LogSink *log, const QString &editor, const QString &argument,
                  const QString &workingDir)
{
    if (!platform.startEditor(editor, argument, workingDir) && log)
        log->appendLog(QStringLiteral("Can't start the editor '%1'! Set one in the Options").arg(editor),
                       LogLevel::Fails, false);
}
