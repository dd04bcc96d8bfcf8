#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeWholeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

ProgramFolder::ProgramFolder() : previous(QDir::currentPath())
{
    made = dir.isValid() && QDir(dir.path()).mkpath(QStringLiteral("hosts")) &&
           QDir(dir.path()).mkpath(QStringLiteral("log")) && QDir::setCurrent(dir.path());
}

ProgramFolder::~ProgramFolder()
{
    QDir::setCurrent(previous);
}

QString ProgramFolder::path(const QString &relative) const
{
    return relative.isEmpty() ? dir.path() : dir.filePath(relative);
}
