#include "dns/PositionTable.h"

#include <cstring>

namespace {

// Spreads the bits of a byte-wise hash over all 64: a slot keeps the low half.
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

char *TextArena::allocate(std::size_t size, quint32 &where)
{
    Q_ASSERT(size <= blockSize);
    if (blocks.empty() || blockSize - used < size) {
        blocks.emplace_back(new char[blockSize]); // not zeroed: pages count once written
        used = 0;
    }
    where = quint32((blocks.size() - 1) << blockBits | used);
    used += size;
    return blocks.back().get() + (where & (blockSize - 1));
}

std::string_view PositionTable::keyOf(const Slot &slot) const
{
    const char *at = keys.at(slot.keyAt);
    std::size_t length = uchar(*at++);
    if (length == longKey) {
        quint32 longLength;
        std::memcpy(&longLength, at, sizeof longLength);
        length = longLength;
        at += sizeof longLength;
    }
    return std::string_view(at, length);
}

std::size_t PositionTable::find(std::string_view key, quint64 hash) const
{
    std::size_t at = home(quint32(hash));
    while (entries[at].lowest != none) {
        const Slot &slot = entries[at];
        if ((slot.hash & ~furtherFlag) == hashBits(hash) && keyOf(slot) == key)
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
    const quint64 bits = filterBits(hashBits(hash));
    if ((filter[filterWord(hashBits(hash))] & bits) != bits)
        return none;
    return entries[find(key, hash)].lowest;
}

void PositionTable::addFurther(Slot &slot, quint32 position)
{
    slot.hash |= furtherFlag;
    insertSorted(further[slot.keyAt], position);
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
    slot = Slot{hashBits(hash), 0, position};
    char *out = keys.allocate(keySize(key.size()), slot.keyAt);
    if (key.size() < longKey) {
        *out++ = char(key.size());
    } else {
        const quint32 length = quint32(key.size());
        *out++ = char(longKey);
        std::memcpy(out, &length, sizeof length);
        out += sizeof length;
    }
    std::memcpy(out, key.data(), key.size());
    ++count;
    filter[filterWord(hashBits(hash))] |= filterBits(hashBits(hash));
}

void PositionTable::erase(std::string_view key, quint64 hash, quint32 position)
{
    hash = mix(hash);
    const std::size_t at = find(key, hash);
    Slot &slot = entries[at];
    Q_ASSERT(slot.lowest != none);
    if (!(slot.hash & furtherFlag)) {
        Q_ASSERT(slot.lowest == position);
        removeSlot(at);
        return;
    }
    const auto list = this->further.find(slot.keyAt);
    std::vector<quint32> &further = list->second;
    if (slot.lowest == position) {
        slot.lowest = further.front();
        further.erase(further.begin());
    } else {
        eraseSorted(further, position);
    }
    if (further.empty()) {
        this->further.erase(list);
        slot.hash &= ~furtherFlag;
    }
}

void PositionTable::removeSlot(std::size_t at)
{
    garbage += keySize(keyOf(entries[at]).size());
    --count;
    // Backward shift: move later entries of the probe run into the gap, so that no probe run breaks.
    const std::size_t mask = entries.size() - 1;
    std::size_t gap = at;
    for (std::size_t next = (gap + 1) & mask; entries[next].lowest != none; next = (next + 1) & mask) {
        const std::size_t wanted = home(entries[next].hash & ~furtherFlag);
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
        compactKeys();
}

void PositionTable::rebuild(std::size_t capacity)
{
    std::vector<Slot> old(capacity, Slot{0, 0, none});
    old.swap(entries);
    filter.assign(capacity * filterBitsPerSlot / 64, 0);
    for (const Slot &slot : old) {
        if (slot.lowest == none)
            continue;
        const quint32 hash = slot.hash & ~furtherFlag;
        std::size_t at = home(hash);
        while (entries[at].lowest != none)
            at = (at + 1) & (capacity - 1);
        entries[at] = slot;
        filter[filterWord(hash)] |= filterBits(hash);
    }
}

void PositionTable::compactKeys()
{
    TextArena kept;
    std::unordered_map<quint32, std::vector<quint32>> keptFurther;
    for (Slot &slot : entries) {
        if (slot.lowest == none)
            continue;
        const std::string_view key = keyOf(slot);
        const std::size_t size = keySize(key.size());
        quint32 at;
        std::memcpy(kept.allocate(size, at), key.data() - (size - key.size()), size);
        if (slot.hash & furtherFlag) {
            auto list = further.extract(slot.keyAt);
            list.key() = at;
            keptFurther.insert(std::move(list));
        }
        slot.keyAt = at;
    }
    keys = std::move(kept);
    further.swap(keptFurther);
    garbage = 0;
}

void PositionTable::clear()
{
    *this = PositionTable();
}
