#include "platform/FileReplace.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace {

constexpr qint64 chunkSize = 1 << 20;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Copies all of `from` (from its current position) to `to`.
bool pump(QFile &from, QFile &to)
{
    QByteArray buffer;
    while (true) {
        buffer = from.read(chunkSize);
        if (buffer.isEmpty())
            return from.error() == QFileDevice::NoError;
        if (to.write(buffer) != buffer.size())
            return false;
    }
}

// Writes the finished temporary file into `target` in place: no truncation until the new content
// is fully written, so a failure part-way leaves at worst a mix that is never shorter than either.
bool writeInPlace(QFile &temp, const QString &target, QString *error)
{
    QFile out(target);
    if (!out.open(QIODevice::ReadWrite))
        return fail(error, out.errorString());
    if (!temp.seek(0) || !pump(temp, out) || !out.flush() || !out.resize(temp.size()))
        return fail(error, out.errorString());
    return true;
}

} // namespace

bool replaceFileWith(const QString &target, const QStringList &sources, QString *error)
{
    const QFileInfo info(target);
    // Follow links so that a link itself stays (resolv.conf under systemd-resolved, for one).
    const QString path = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QFileInfo real(path);

    QTemporaryFile temp(real.absolutePath() + QStringLiteral("/.") + real.fileName() +
                        QStringLiteral(".XXXXXX"));
    if (!temp.open())
        return fail(error, temp.errorString());
    for (const QString &source : sources) {
        QFile in(source);
        if (!openRegularFile(in, QIODevice::ReadOnly))
            return fail(error, source + QStringLiteral(": ") +
                                   (in.error() != QFileDevice::NoError ? in.errorString()
                                                                       : QStringLiteral("not a file")));
        if (!pump(in, temp))
            return fail(error, in.error() != QFileDevice::NoError ? in.errorString() : temp.errorString());
    }
    if (!temp.flush())
        return fail(error, temp.errorString());
    temp.setPermissions(real.exists()
                            ? real.permissions()
                            : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);

    if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(path).constData()) ==
        0) {
        temp.setAutoRemove(false);
        return true;
    }
    const int renameError = errno;
    if (renameError != EBUSY && renameError != EXDEV && renameError != EPERM)
        return fail(error, QString::fromLocal8Bit(std::generic_category().message(renameError).c_str()));
    return writeInPlace(temp, path, error);
}

bool openRegularFile(QFile &file, QIODevice::OpenMode mode)
{
    return QFileInfo(file.fileName()).isFile() && file.open(mode);
}
