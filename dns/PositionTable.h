#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Inserts `entry` into `entries`, kept sorted by `less`. Appends come in rising order; only an edit
// inserts in the middle.
template <typename Entry, typename Less = std::less<>>
void insertSorted(std::vector<Entry> &entries, Entry entry, Less less = {})
{
    if (entries.empty() || less(entries.back(), entry))
        entries.push_back(std::move(entry));
    else
        entries.insert(std::lower_bound(entries.begin(), entries.end(), entry, less), std::move(entry));
}

// Keys (lower-cased name bytes), each with the positions of the rules that carry it. The lowest
// position of a key costs one probe; a bit filter answers most probes for absent keys without
// touching the entries.
class PositionTable {
public:
    static constexpr quint32 none = 0xffffffff;

    bool isEmpty() const { return count == 0; }
    // `hash` is keyHash() of the key.
    void insert(std::string_view key, quint64 hash, quint32 position);
    // The key must hold `position`.
    void erase(std::string_view key, quint64 hash, quint32 position);
    // The lowest position under the key, or none.
    quint32 lowest(std::string_view key, quint64 hash) const;
    void clear();

    // Hashes the bytes from the last to the first, so that the hash of every suffix of a name comes
    // from that of the next shorter one with one step.
    static constexpr quint64 emptyHash = 0xcbf29ce484222325ull;
    static quint64 extendHash(quint64 suffixHash, char byte)
    {
        return (suffixHash ^ uchar(byte)) * 0x100000001b3ull;
    }
    static quint64 keyHash(std::string_view key);

private:
    struct Slot {
        quint64 hash;
        quint32 keyAt;
        quint32 keyLength;
        quint32 lowest; // none: the slot is free
        quint32 more;   // index in `extra` of the further positions of the key, ascending; or none
    };
    std::size_t home(quint64 hash) const { return std::size_t(hash) & (entries.size() - 1); }
    // Two bits of one filter word stand for a key: one memory read rules out most absent keys.
    std::size_t filterWord(quint64 hash) const { return std::size_t(hash >> 32) & (filter.size() - 1); }
    static quint64 filterBits(quint64 hash)
    {
        return quint64(1) << (hash >> 58) | quint64(1) << ((hash >> 52) & 63);
    }
    std::string_view keyOf(const Slot &slot) const
    {
        return std::string_view(keys).substr(slot.keyAt, slot.keyLength);
    }
    // The slot that holds the key, or the free slot where it would go.
    std::size_t find(std::string_view key, quint64 hash) const;
    void removeSlot(std::size_t at);
    // Re-lays the entries with `capacity` places, the filter, and the keys without the erased ones.
    void rebuild(std::size_t capacity);
    void addFurther(Slot &slot, quint32 position);

    std::vector<Slot> entries;
    std::vector<quint64> filter;
    std::string keys;
    std::size_t garbage = 0; // bytes of `keys` whose slot is gone
    std::size_t count = 0;
    std::vector<std::vector<quint32>> extra;
    std::vector<quint32> freeExtra;
};

// Lists by a four-byte key: open addressing over the keys, with a bit filter that answers most
// probes for absent keys; the lists lie apart. A list stays, maybe empty, until clear().
template <typename Entry> class SliceTable {
public:
    using List = std::vector<Entry>;

    // The list of `key`, or null when there is none.
    const List *find(quint32 key) const
    {
        if (lists.empty())
            return nullptr;
        const quint64 hash = spread(key);
        if ((filter[filterWord(hash)] & filterBit(hash)) == 0)
            return nullptr;
        const quint32 list = places[locate(key, hash)].list;
        return list == unused ? nullptr : &lists[list];
    }
    // The list of `key`, made empty when there is none.
    List &operator[](quint32 key)
    {
        if ((lists.size() + 1) * 4 > places.size() * 3)
            grow();
        const quint64 hash = spread(key);
        Slot &slot = places[locate(key, hash)];
        if (slot.list == unused) {
            slot = Slot{key, quint32(lists.size())};
            lists.emplace_back();
            filter[filterWord(hash)] |= filterBit(hash);
        }
        return lists[slot.list];
    }
    bool isEmpty() const { return lists.empty(); }
    void clear() { *this = SliceTable(); }

private:
    static constexpr quint32 unused = 0xffffffff;
    struct Slot {
        quint32 key;
        quint32 list; // unused: the place is free
    };
    static quint64 spread(quint32 key) { return key * 0x9e3779b97f4a7c15ull; }
    std::size_t locate(quint32 key, quint64 hash) const
    {
        const std::size_t mask = places.size() - 1;
        std::size_t at = std::size_t(hash >> 32) & mask;
        while (places[at].list != unused && places[at].key != key)
            at = (at + 1) & mask;
        return at;
    }
    // Eight filter bits per slot.
    std::size_t filterWord(quint64 hash) const { return std::size_t(hash >> 26) & (filter.size() - 1); }
    static quint64 filterBit(quint64 hash) { return quint64(1) << (hash >> 58); }
    void grow()
    {
        std::vector<Slot> old(std::max<std::size_t>(16, places.size() * 2), Slot{0, unused});
        old.swap(places);
        filter.assign(places.size() / 8, 0);
        for (const Slot &slot : old) {
            if (slot.list == unused)
                continue;
            const quint64 hash = spread(slot.key);
            places[locate(slot.key, hash)] = slot;
            filter[filterWord(hash)] |= filterBit(hash);
        }
    }

    std::vector<Slot> places;
    std::vector<quint64> filter;
    std::vector<List> lists;
};
