#include "platform/WindowsCommands.h"

namespace {

// Quotes a path for cmd.exe. Inside quotes cmd takes & | < > ^ literally, but a quote would end
// them and %NAME% would still be expanded, so paths holding either are refused.
bool quote(const QString &path, QString *out)
{
    if (path.isEmpty() || path.contains(QLatin1Char('"')) || path.contains(QLatin1Char('%')))
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
    return QLatin1Char('"') + command + QLatin1Char('"');
}
