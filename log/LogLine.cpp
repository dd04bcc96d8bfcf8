#include "log/LogLine.h"

#include <QDateTime>

namespace {

constexpr qint64 msecsPerDay = 86400000;

// Writes `value` as `width` decimal digits at `out`.
void putDigits(char *out, qint64 value, int width)
{
    for (int at = width - 1; at >= 0; --at, value /= 10)
        out[at] = char('0' + value % 10);
}

// The stamp of `localMsecs` into 23 bytes at `out`; civil date from the day count (Howard Hinnant's
// algorithm), which needs no time zone and no locale.
void putStamp(char *out, qint64 localMsecs)
{
    qint64 days = localMsecs / msecsPerDay;
    qint64 inDay = localMsecs % msecsPerDay;
    if (inDay < 0) {
        inDay += msecsPerDay;
        --days;
    }
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153;
    const qint64 day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const qint64 month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const qint64 year = yearOfEra + era * 400 + (month <= 2);
    putDigits(out, year, 4);
    out[4] = '-';
    putDigits(out + 5, month, 2);
    out[7] = '-';
    putDigits(out + 8, day, 2);
    out[10] = ' ';
    putDigits(out + 11, inDay / 3600000, 2);
    out[13] = ':';
    putDigits(out + 14, inDay / 60000 % 60, 2);
    out[16] = ':';
    putDigits(out + 17, inDay / 1000 % 60, 2);
    out[19] = ':';
    putDigits(out + 20, inDay % 1000, 3);
}

constexpr int stampSize = 23;

} // namespace

QString LogLine::stamp() const
{
    char bytes[stampSize];
    putStamp(bytes, localMsecs);
    return QString::fromLatin1(bytes, stampSize);
}

QString LogLine::text() const
{
    return stamp() + QStringLiteral(" : ") + message;
}

void LogLine::appendTo(QByteArray &file) const
{
    const qsizetype at = file.size();
    file.resize(at + stampSize);
    putStamp(file.data() + at, localMsecs);
    file += " : ";
    if (message.contains(QChar(0xa0)))
        file += QString(message).replace(QChar(0xa0), QLatin1Char(' ')).toUtf8();
    else
        file += message.toUtf8();
    file += '\n';
}

qint64 LogClock::localMsecs()
{
    const qint64 utc = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = utc / 1000;
    if (second != offsetSecond) {
        offsetSecond = second;
        offsetMsecs = qint64(QDateTime::fromMSecsSinceEpoch(utc).offsetFromUtc()) * 1000;
    }
    return utc + offsetMsecs;
}
