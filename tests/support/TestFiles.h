#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <sys/stat.h>

// A file's whole content; a file that cannot be read gives "<unreadable>", which no test expects.
inline QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Replaces a file's content, making its folder if needed; false when it could not be written whole.
inline bool writeWholeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// A temporary folder that other local users may enter (mode 0755 whatever the umask), for tests
// that act as them: under /tmp, as TMPDIR may be private to this user (pam_tmpdir).
class SharedTemporaryDir : public QTemporaryDir {
public:
    SharedTemporaryDir() : QTemporaryDir(QStringLiteral("/tmp/tarnowlock-test-XXXXXX"))
    {
        ::chmod(QFile::encodeName(path()).constData(), 0755);
    }
};

// A temporary program folder holding hosts/ and log/, the working directory while it lives: the
// previous one comes back when it goes, so no test leaves its folder to the next.
class ProgramFolder {
public:
    ProgramFolder()
    {
        made = dir.isValid() && QDir(dir.path()).mkpath(QStringLiteral("hosts")) &&
               QDir(dir.path()).mkpath(QStringLiteral("log")) && QDir::setCurrent(dir.path());
    }
    ~ProgramFolder() { QDir::setCurrent(previous); }
    ProgramFolder(const ProgramFolder &) = delete;
    ProgramFolder &operator=(const ProgramFolder &) = delete;

    bool isValid() const { return made; }
    // The absolute path of `relative` inside the folder.
    QString path(const QString &relative = QString()) const
    {
        return relative.isEmpty() ? dir.path() : dir.filePath(relative);
    }

private:
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    bool made = false;
};
