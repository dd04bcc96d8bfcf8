#pragma once

#include <QRegExp>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QByteArray;

// Texts that every text a pattern matches as a whole holds: one text of each entry at least.
using RequiredTexts = std::vector<QStringList>;

// The required texts of a regular expression in QRegExp's syntax: runs of plain and escaped
// punctuation characters not made optional by a quantifier, and, for a group or the whole pattern
// made of alternatives, a text of each alternative. Empty when none is known.
RequiredTexts regularExpressionLiterals(const QString &pattern);

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

// Finds the first rule of an ordered list that matches a name without testing every rule. Each rule
// carries its position: a number that grows with the rule's place in the list. Case-insensitive
// wildcard patterns without wildcard characters are exact names, and "*" + such a literal is a
// suffix; both are found by their lower-cased key. Every other rule (other wildcards, regular
// expressions, case-sensitive patterns) has texts that every name it matches holds (one of a set,
// for alternatives): the least shared four-byte slice of each text (when the rule came) files the
// rule under that slice, and a lookup tests, in position order and only up to the best indexed
// candidate, the rules filed under the slices of the name and the few without a text that long.
class RuleIndex {
public:
    static constexpr quint32 none = PositionTable::none;

    void add(const QRegExp &pattern, quint32 position);
    // `pattern` must be as it was when added.
    void remove(const QRegExp &pattern, quint32 position);
    void clear();

    // Rules whose pattern is too costly to match in bounded time (dns/PatternCost.h): they never match.
    std::size_t intractableCount() const { return intractable; }

    // The position of the first rule that matches `name` (bytes as Latin-1 characters), or none.
    quint32 firstMatch(const QByteArray &name) const;

    // QRegExp ignores case by comparing QChar::toLower of both sides, one UTF-16 unit at a time;
    // every Latin-1 character lowers to a Latin-1 character.
    static char lowerLatin1(char byte) { return lowerTable[uchar(byte)]; }

private:
    enum class Kind { Exact, Suffix, Other, Never, Intractable };
    // RequiredTexts lower-cased.
    using Requirements = std::vector<std::vector<std::string>>;
    // An unindexed rule. Held by pointer: a QRegExp has no move constructor, and a copy compiles it.
    struct Unindexed {
        quint32 position;
        // The texts of one requirement, each ended by a NUL: a name without any of them is not
        // tested. Empty when every name is tested.
        std::string literals;
        std::unique_ptr<QRegExp> pattern;
    };
    // An unindexed rule in a list, its position beside it for the order of tests.
    struct Filed {
        quint32 position;
        const Unindexed *rule;
        bool operator<(const Filed &other) const { return position < other.position; }
    };
    static constexpr std::size_t sliceLength = 4;
    static quint32 sliceAt(std::string_view text, std::size_t at)
    {
        quint32 slice;
        std::memcpy(&slice, text.data() + at, sliceLength);
        return slice;
    }
    // The requirement whose texts' least shared slices are together the least shared: its texts
    // into `literals`, the slices into `slices`. When a text of every requirement is shorter than a
    // slice, `slices` is empty and `literals` has the requirement whose shortest text is longest.
    void chooseLiterals(const Requirements &required, std::string &literals,
                        std::vector<quint32> &slices) const;
    // Takes `position` out of every list of the slices of `literals`, and of `unsliced`.
    void unfile(const std::string &literals, quint32 position);
    // Sorts a pattern: for an exact name or a suffix `key` gets the lower-cased text to look up, for
    // another pattern `required` gets the texts a match holds.
    static Kind classify(const QRegExp &pattern, std::string &key, Requirements &required);
    // The first unindexed rule at or after `position`.
    std::vector<std::unique_ptr<Unindexed>>::iterator unindexedAt(quint32 position);
    quint32 lowestIndexed(std::string_view loweredName) const;
    // Suffix keys by length, the last entry for every length beyond, counted apart for keys that
    // begin with a dot: probes skip absent lengths, and those of dotted keys start only at a dot.
    std::size_t &suffixesOfLength(const std::string &key)
    {
        auto &lengths = !key.empty() && key.front() == '.' ? dottedSuffixLengths : suffixLengths;
        return lengths[std::min(key.size(), longSuffix)];
    }

    static const std::array<char, 256> lowerTable;
    static constexpr std::size_t longSuffix = 256;

    PositionTable exact;
    PositionTable suffixes;
    std::array<std::size_t, longSuffix + 1> suffixLengths{};
    std::array<std::size_t, longSuffix + 1> dottedSuffixLengths{};
    std::vector<std::unique_ptr<Unindexed>> others; // by ascending position
    // The unindexed rules by ascending position: by slice, and those tested for every name.
    SliceTable<Filed> sliced;
    std::vector<Filed> unsliced;
    std::size_t intractable = 0;
    std::string keyBuffer;
    Requirements requiredBuffer;
    std::vector<quint32> slicesBuffer;
};
