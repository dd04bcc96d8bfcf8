#include "app/HostsFiles.h"

#include "log/LogSink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString quotedSelection(const QStringList &names)
{
    return QLatin1Char('"') + names.join(QStringLiteral(", ")) + QLatin1Char('"');
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
