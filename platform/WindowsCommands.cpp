#include "platform/WindowsCommands.h"

#include <algorithm>

namespace {

// Quotes a path for cmd.exe. Inside quotes cmd takes & | < > ^ literally, but a quote would end
// them, %NAME% (and !NAME!, should delayed expansion be on) would still be expanded and a line break
// ends the command, so paths holding any of these are refused (no Windows file name holds a
// control character).
bool quote(const QString &path, QString *out)
{
    const bool control = std::any_of(path.cbegin(), path.cend(), [](QChar c) { return c.unicode() < 0x20; });
    if (path.isEmpty() || control || path.contains(QLatin1Char('"')) || path.contains(QLatin1Char('%')) ||
        path.contains(QLatin1Char('!')))
        return false;
    *out = QLatin1Char('"') + QString(path).replace(QLatin1Char('/'), QLatin1Char('\\')) + QLatin1Char('"');
    return true;
}

} // namespace

QString windowsCopyCommand(const QStringList &sources, const QString &target)
{
    if (sources.isEmpty())
        return QString();
    QString command = QStringLiteral("copy");
    QString quoted;
    for (int i = 0; i < sources.size(); ++i) {
        if (!quote(sources.at(i), &quoted))
            return QString();
        if (i > 0)
            command += QStringLiteral(" +");
        command += QLatin1Char(' ') + quoted + QStringLiteral(" /B");
    }
    if (!quote(target, &quoted))
        return QString();
    command += QLatin1Char(' ') + quoted + QStringLiteral(" /Y");
    // cmd /C strips one pair of outer quotes when the text holds more than two.
    return QStringLiteral("/D /V:OFF /C \"") + command + QLatin1Char('"');
}

QString windowsRunCommand(const QString &executable)
{
    if (executable.isEmpty())
        return QString();
    return QLatin1Char('"') + QString(executable).replace(QLatin1Char('/'), QLatin1Char('\\')) +
           QStringLiteral("\" -silent");
}
