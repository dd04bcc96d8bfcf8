#include "dns/PositionTable.h"

namespace {

// Spreads the bits of a byte-wise hash over all 64, so that low bits pick entries and high bits filter.
quint64 mix(quint64 hash)
{
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    hash *= 0xc4ceb9fe1a85ec53ull;
    return hash ^ (hash >> 33);
}

void eraseSorted(std::vector<quint32> &positions, quint32 position)
{
    const auto at = std::lower_bound(positions.begin(), positions.end(), position);
    Q_ASSERT(at != positions.end() && *at == position);
    positions.erase(at);
}

// At most this share of the entries is in use; linear probing stays short below it.
constexpr std::size_t loadNumerator = 3;
constexpr std::size_t loadDenominator = 4;
constexpr std::size_t minimumCapacity = 16;
// Filter bits per slot: a probe for an absent key reads one filter word, which stays in cache far
// longer than the entries of a table of a million keys.
constexpr std::size_t filterBitsPerSlot = 8;

} // namespace

quint64 PositionTable::keyHash(std::string_view key)
{
    quint64 hash = emptyHash;
    for (auto at = key.rbegin(); at != key.rend(); ++at)
        hash = extendHash(hash, *at);
    return hash;
}

std::size_t PositionTable::find(std::string_view key, quint64 hash) const
{
    std::size_t at = home(hash);
    while (entries[at].lowest != none) {
        const Slot &slot = entries[at];
        if (slot.hash == hash && keyOf(slot) == key)
            return at;
        at = (at + 1) & (entries.size() - 1);
    }
    return at;
}

quint32 PositionTable::lowest(std::string_view key, quint64 hash) const
{
    if (count == 0)
        return none;
    hash = mix(hash);
    const quint64 bits = filterBits(hash);
    if ((filter[filterWord(hash)] & bits) != bits)
        return none;
    return entries[find(key, hash)].lowest;
}

void PositionTable::addFurther(Slot &slot, quint32 position)
{
    if (slot.more == none) {
        if (freeExtra.empty()) {
            slot.more = quint32(extra.size());
            extra.emplace_back();
        } else {
            slot.more = freeExtra.back();
            freeExtra.pop_back();
        }
    }
    insertSorted(extra[slot.more], position);
}

void PositionTable::insert(std::string_view key, quint64 hash, quint32 position)
{
    if ((count + 1) * loadDenominator > entries.size() * loadNumerator)
        rebuild(std::max(minimumCapacity, entries.size() * 2));
    hash = mix(hash);
    const std::size_t at = find(key, hash);
    Slot &slot = entries[at];
    if (slot.lowest != none) {
        if (position < slot.lowest)
            std::swap(position, slot.lowest);
        addFurther(slot, position);
        return;
    }
    slot = Slot{hash, quint32(keys.size()), quint32(key.size()), position, none};
    keys.append(key);
    ++count;
    filter[filterWord(hash)] |= filterBits(hash);
}

void PositionTable::erase(std::string_view key, quint64 hash, quint32 position)
{
    hash = mix(hash);
    const std::size_t at = find(key, hash);
    Slot &slot = entries[at];
    Q_ASSERT(slot.lowest != none);
    if (slot.more == none) {
        Q_ASSERT(slot.lowest == position);
        removeSlot(at);
        return;
    }
    std::vector<quint32> &further = extra[slot.more];
    if (slot.lowest == position) {
        slot.lowest = further.front();
        further.erase(further.begin());
    } else {
        eraseSorted(further, position);
    }
    if (further.empty()) {
        further.shrink_to_fit();
        freeExtra.push_back(slot.more);
        slot.more = none;
    }
}

void PositionTable::removeSlot(std::size_t at)
{
    garbage += entries[at].keyLength;
    --count;
    // Backward shift: move later entries of the probe run into the gap, so that no probe run breaks.
    const std::size_t mask = entries.size() - 1;
    std::size_t gap = at;
    for (std::size_t next = (gap + 1) & mask; entries[next].lowest != none; next = (next + 1) & mask) {
        const std::size_t wanted = home(entries[next].hash);
        // The slot may move to the gap unless its home lies after the gap, up to the slot itself.
        if (((next - wanted) & mask) >= ((next - gap) & mask)) {
            entries[gap] = entries[next];
            gap = next;
        }
    }
    entries[gap].lowest = none;
    if (count == 0)
        clear();
    else if (garbage > keys.size() / 2)
        rebuild(entries.size());
}

void PositionTable::rebuild(std::size_t capacity)
{
    std::vector<Slot> old(capacity, Slot{0, 0, 0, none, none});
    old.swap(entries);
    std::string oldKeys;
    oldKeys.swap(keys);
    keys.reserve(oldKeys.size() - garbage);
    garbage = 0;
    filter.assign(capacity * filterBitsPerSlot / 64, 0);
    for (Slot slot : old) {
        if (slot.lowest == none)
            continue;
        const std::string_view key = std::string_view(oldKeys).substr(slot.keyAt, slot.keyLength);
        slot.keyAt = quint32(keys.size());
        keys.append(key);
        std::size_t at = home(slot.hash);
        while (entries[at].lowest != none)
            at = (at + 1) & (capacity - 1);
        entries[at] = slot;
        filter[filterWord(slot.hash)] |= filterBits(slot.hash);
    }
}

void PositionTable::clear()
{
    *this = PositionTable();
}
