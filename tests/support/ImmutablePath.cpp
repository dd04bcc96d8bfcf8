#include "tests/support/ImmutablePath.h"

#include <QProcess>

namespace {

// Runs chattr; empty text on success, else why not.
QString chattr(const QString &flag, const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("chattr"), {flag, path});
    if (!process.waitForFinished(10000))
        return QStringLiteral("chattr did not run: ") + process.errorString();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("chattr failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
    return QString();
}

} // namespace

ImmutablePath::ImmutablePath(const QString &path) : path(path)
{
    why = chattr(QStringLiteral("+i"), path);
    set = why.isEmpty();
}

ImmutablePath::~ImmutablePath()
{
    if (set)
        chattr(QStringLiteral("-i"), path);
}
