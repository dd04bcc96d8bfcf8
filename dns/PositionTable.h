#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
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

// Bytes kept in blocks that never move: growing it copies nothing, where a buffer that doubles holds
// its old and new copies at once, and the allocator may keep the old one's pages. A piece lies within
// one block; where it lies is its block (12 bits) and its offset there (20 bits), so 4 GiB at most.
// Blocks of a megabyte are mapped apart from the heap, and only the pages written count.
class TextArena {
public:
    static constexpr int blockBits = 20;
    static constexpr std::size_t blockSize = std::size_t(1) << blockBits;

    // Room for `size` bytes (at most blockSize), to be written at once; `where` gets its place.
    char *allocate(std::size_t size, quint32 &where);
    const char *at(quint32 where) const
    {
        return blocks[where >> blockBits].get() + (where & (blockSize - 1));
    }
    // Bytes taken, the ends of full blocks included.
    std::size_t size() const { return blocks.size() * blockSize - (blockSize - used); }

private:
    std::vector<std::unique_ptr<char[]>> blocks;
    std::size_t used = blockSize; // in the last block
};

// Keys (lower-cased name bytes), each with the positions of the rules that carry it. The lowest
// position of a key costs one probe; a bit filter answers most probes for absent keys without
// touching the entries. A slot holds the low half of the key's hash, which gives its home, its filter
// bits and a check before the key is compared (one bit of it says whether the key has further
// positions), and where the key lies in `keys`, each key there led by
// its length: a table that grows copies neither keys nor hashes them again.
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
        quint32 hash; // and furtherFlag
        quint32 keyAt;
        quint32 lowest; // none: the slot is free
    };
    // The key has further positions, in `further`; taken out of the hash, whose bit it is.
    static constexpr quint32 furtherFlag = 0x80000000;
    static quint32 hashBits(quint64 hash) { return quint32(hash) & ~furtherFlag; }
    std::size_t home(quint32 hash) const { return std::size_t(hash) & (entries.size() - 1); }
    // Two bits of one filter word stand for a key: one memory read rules out most absent keys. A word
    // covers the homes of eight slots; the bits come from the top of the hash, which picks no home
    // up to a million slots.
    std::size_t filterWord(quint32 hash) const { return std::size_t(hash >> 3) & (filter.size() - 1); }
    static quint64 filterBits(quint32 hash)
    {
        return quint64(1) << ((hash >> 25) & 63) | quint64(1) << ((hash >> 20) & 63);
    }
    // Lengths below 255 take one byte; longer keys 255 and four bytes.
    static constexpr uchar longKey = 255;
    std::string_view keyOf(const Slot &slot) const;
    std::size_t keySize(std::size_t length) const { return length + (length < longKey ? 1 : 5); }
    // The slot that holds the key, or the free slot where it would go.
    std::size_t find(std::string_view key, quint64 hash) const;
    void removeSlot(std::size_t at);
    // Re-lays the entries with `capacity` places and the filter.
    void rebuild(std::size_t capacity);
    // Rewrites `keys` without those of removed slots.
    void compactKeys();
    void addFurther(Slot &slot, quint32 position);

    std::vector<Slot> entries;
    std::vector<quint64> filter;
    TextArena keys;
    std::size_t garbage = 0; // bytes of `keys` whose slot is gone
    std::size_t count = 0;
    // The further positions of keys that have them, ascending, by where the key lies in `keys`: few
    // keys have any, so their slots need no room for them.
    std::unordered_map<quint32, std::vector<quint32>> further;
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
