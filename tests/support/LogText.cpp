#include "tests/support/LogText.h"

#include "log/UI_LogPanel.h"

#include <QRegularExpression>
#include <QTextBrowser>

QStringList logMessages(const UI_LogPanel &panel)
{
    static const QRegularExpression linePattern(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} : (.*)$"));
    QStringList result;
    const QStringList lines =
        panel.browserWidget()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = linePattern.match(line);
        result << (match.hasMatch() ? match.captured(1)
                                    : QStringLiteral("<malformed: ") + line + QLatin1Char('>'));
    }
    return result;
}
