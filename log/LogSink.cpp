#include "log/LogSink.h"

#include <algorithm>

namespace {

bool breaksLines(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029;
}

} // namespace

QString escapedForLog(const QString &text)
{
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return breaksLines(c.unicode()); }))
        return text;
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!breaksLines(c.unicode()))
            escaped += c;
        else if (c.unicode() < 0x100)
            escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return escaped;
}
