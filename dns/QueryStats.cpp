#include "dns/QueryStats.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr quint64 ones = 0x0101010101010101ULL;
constexpr std::size_t slotCount = 2 * QueryStats::namesPerMinute; // a power of two

// The eight bytes of `word` with ASCII capitals made small, all at once.
quint64 lowered(quint64 word)
{
    const quint64 low = word & (0x7f * ones);
    const quint64 fromA = low + (0x80 - 'A') * ones; // high bit: the byte is 'A' or above
    const quint64 pastZ = low + (0x7f - 'Z') * ones; // high bit: above 'Z'
    return word | ((fromA & ~pastZ & ~word & (0x80 * ones)) >> 2);
}

} // namespace

void QueryStats::NameCounts::add(const QByteArray &name)
{
    // The name lower-cased into `folded` while its hash is taken, eight bytes at a time.
    const std::size_t size = std::size_t(name.size());
    char shortName[264]; // a name of a question fits, with room for the last word
    std::vector<char> longName;
    char *folded = shortName;
    if (size + 8 > sizeof shortName) {
        longName.resize(size + 8);
        folded = longName.data();
    }
    quint64 hash = size;
    const auto take = [&](std::size_t at, quint64 word) {
        word = lowered(word);
        std::memcpy(folded + at, &word, 8);
        hash = (hash ^ word) * 0x9e3779b97f4a7c15ULL;
        hash ^= hash >> 29;
    };
    const char *bytes = name.constData();
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8) {
        quint64 word;
        std::memcpy(&word, bytes + at, 8);
        take(at, word);
    }
    if (const std::size_t rest = size - at; rest > 0) {
        quint64 word = 0;
        if (size >= 8) { // the last eight bytes, those before the rest shifted out: one load
            std::memcpy(&word, bytes + size - 8, 8);
            word = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? word >> 8 * (8 - rest) : word << 8 * (8 - rest);
        } else {
            std::memcpy(&word, bytes + at, rest);
        }
        take(at, word);
    }
    if (!table.empty()) {
        for (std::size_t at = hash & (slotCount - 1);; at = (at + 1) & (slotCount - 1)) {
            Slot &slot = table[at];
            if (slot.count == 0)
                break;
            if (slot.hash == hash && slot.size == size &&
                std::memcmp(text.data() + slot.at, folded, size) == 0) {
                ++slot.count;
                return;
            }
        }
    }
    if (used < QueryStats::namesPerMinute)
        insert(hash, folded, quint32(size), 1);
    else // the new name and one count of every held name cancel out
        decrementAll();
}

void QueryStats::NameCounts::insert(quint64 hash, const char *name, quint32 size, quint64 count)
{
    if (table.empty())
        table.resize(slotCount);
    std::size_t at = hash & (slotCount - 1);
    while (table[at].count != 0)
        at = (at + 1) & (slotCount - 1);
    table[at] = Slot{hash, count, quint32(text.size()), size};
    text.append(name, size);
    ++used;
}

void QueryStats::NameCounts::decrementAll()
{
    const std::vector<Slot> held = std::exchange(table, {});
    const std::string names = std::exchange(text, {});
    used = 0;
    for (const Slot &slot : held) {
        if (slot.count > 1)
            insert(slot.hash, names.data() + slot.at, slot.size, slot.count - 1);
    }
}

void QueryStats::NameCounts::addTo(QHash<QByteArray, quint64> &into) const
{
    for (const Slot &slot : table) {
        if (slot.count != 0)
            into[QByteArray(text.data() + slot.at, slot.size)] += slot.count;
    }
}

void QueryStats::setMinute(qint64 minute)
{
    // Unsigned, so that no pair of minutes overflows. A clock set back by a minute (a correction
    // across a minute's turn) keeps the current one; set back further, the counts go on in a new one.
    const bool back = minute < clock - 1;
    if (minute > clock || back) {
        now += back ? 1 : quint64(minute) - quint64(clock);
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
    bucket.names.add(name);
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
        bucket.names.addTo(names);
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
