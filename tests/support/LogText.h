#pragma once

#include "log/UI_LogPanel.h"

#include "log/LogView.h"
#include <QRegularExpression>
#include <QStringList>

// The messages of the panel's lines, in order, each without its time stamp; a line that does not
// have the "yyyy-MM-dd hh:mm:ss:zzz : " form shows as "<malformed: line>".
inline QStringList logMessages(UI_LogPanel &panel)
{
    static const QRegularExpression linePattern(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} : (.*)$"));
    QStringList result;
    for (const QString &line :
         panel.browserWidget()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = linePattern.match(line);
        result << (match.hasMatch() ? match.captured(1) : QStringLiteral("<malformed: ") + line + u'>');
    }
    return result;
}
