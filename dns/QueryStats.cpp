#include "dns/QueryStats.h"

#include <algorithm>

namespace {

void count(QHash<QByteArray, quint64> &names, const QByteArray &lowered)
{
    const auto found = names.find(lowered);
    if (found != names.end())
        ++*found;
    else if (names.size() < QueryStats::namesPerMinute)
        names.insert(lowered, 1);
    else // Misra-Gries: the new name and one count of every held name cancel out
        names.removeIf([](QHash<QByteArray, quint64>::iterator held) { return --*held == 0; });
}

} // namespace

void QueryStats::setMinute(qint64 minute)
{
    if (minute > clock) {
        // Unsigned, so that no pair of minutes overflows.
        now += quint64(minute) - quint64(clock);
        at = int(now % minutes);
        Bucket &bucket = ring[at];
        if (bucket.minute != now)
            bucket = Bucket{now, 0, 0, {}};
    }
    clock = minute;
}

void QueryStats::answered(const QByteArray &name)
{
    Bucket &bucket = ring[at];
    ++bucket.answered;
    // Most names are asked in lower case: those are looked up as they are. toLower() would scan
    // byte by byte and share a copy even then, which takes longer than the lookup.
    if (std::any_of(name.cbegin(), name.cend(), [](char byte) { return byte >= 'A' && byte <= 'Z'; }))
        count(bucket.names, name.toLower());
    else
        count(bucket.names, name);
}

QueryStats::Hour QueryStats::lastHour(int topCount) const
{
    Hour hour;
    QHash<QByteArray, quint64> names;
    names.reserve(qsizetype(trackedNames()));
    for (quint64 age = 0; age < minutes && age <= now; ++age) {
        const Bucket &bucket = ring[(now - age) % minutes];
        if (bucket.minute != now - age)
            continue; // left from an earlier hour
        hour.answered[minutes - 1 - age] = bucket.answered;
        hour.passed[minutes - 1 - age] = bucket.passed;
        hour.totalAnswered += bucket.answered;
        hour.totalPassed += bucket.passed;
        for (auto held = bucket.names.cbegin(); held != bucket.names.cend(); ++held)
            names[held.key()] += held.value();
    }
    for (auto held = names.cbegin(); held != names.cend(); ++held)
        hour.top.append({held.key(), held.value()});
    const auto first = [](const QPair<QByteArray, quint64> &a, const QPair<QByteArray, quint64> &b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    };
    const qsizetype count = std::clamp<qsizetype>(topCount, 0, hour.top.size());
    std::partial_sort(hour.top.begin(), hour.top.begin() + count, hour.top.end(), first);
    hour.top.resize(count);
    return hour;
}

std::size_t QueryStats::trackedNames() const
{
    std::size_t names = 0;
    for (const Bucket &bucket : ring)
        names += std::size_t(bucket.names.size());
    return names;
}
