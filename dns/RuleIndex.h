#pragma once

#include "dns/PositionTable.h"
#include "dns/RequiredTexts.h"

#include <QRegExp>
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QByteArray;

// Finds the first rule of an ordered list that matches a name without testing every rule. Each rule
// carries its position: a number that grows with the rule's place in the list. Exact names and
// suffixes are found by their lower-cased key. Every other rule has texts that every name it matches
// holds (one of a set, for alternatives; dns/RequiredTexts.cpp reads keys and texts from patterns):
// the least shared four-byte slice of each text (when the rule came) files the rule under that
// slice, and a lookup tests, in position order and only up to the best indexed candidate, the rules
// filed under the slices of the name and the few without a text that long. The index keeps no pattern:
// a Matcher tests a rule that it cannot look up by text.
class RuleIndex {
public:
    static constexpr quint32 none = PositionTable::none;

    // Tells whether the rule at a position matches a whole name, as its QRegExp's exactMatch() would.
    class Matcher {
    public:
        // `lowered`: `name` lowered by lowerLatin1().
        virtual bool matches(quint32 position, const QByteArray &name, std::string_view lowered) const = 0;

    protected:
        ~Matcher() = default;
    };

    void add(QStringView pattern, QRegExp::PatternSyntax syntax, Qt::CaseSensitivity caseSensitivity,
             quint32 position);
    // The pattern must be as it was when added.
    void remove(QStringView pattern, QRegExp::PatternSyntax syntax, Qt::CaseSensitivity caseSensitivity,
                quint32 position);
    void clear();

    // Rules whose pattern is too costly to match in bounded time (dns/PatternCost.h): they never match.
    std::size_t intractableCount() const { return intractable; }

    // The position of the first rule that matches `name` (bytes as Latin-1 characters), or none.
    quint32 firstMatch(const QByteArray &name, const Matcher &matcher) const;

    // QRegExp ignores case by comparing QChar::toLower of both sides, one UTF-16 unit at a time;
    // every Latin-1 character lowers to a Latin-1 character.
    static char lowerLatin1(char byte) { return lowerTable[uchar(byte)]; }

private:
    // An unindexed rule. Held by pointer, which the lists of slices keep.
    struct Unindexed {
        quint32 position;
        // The texts of one requirement, each ended by a NUL: a name without any of them is not
        // tested. Empty when every name is tested.
        std::string literals;
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
    void chooseLiterals(const LoweredTexts &required, std::string &literals,
                        std::vector<quint32> &slices) const;
    // Takes `position` out of every list of the slices of `literals`, and of `unsliced`.
    void unfile(const std::string &literals, quint32 position);
    // The first unindexed rule at or after `position`.
    std::vector<std::unique_ptr<Unindexed>>::iterator unindexedAt(quint32 position);
    quint32 lowestIndexed(std::string_view loweredName) const;
    // Suffix keys by length, the last entry for every length beyond, counted apart for keys that
    // begin with a dot: probes skip absent lengths, and those of dotted keys start only at a dot.
    std::size_t &suffixesOfLength(std::string_view key)
    {
        auto &lengths = !key.empty() && key.front() == '.' ? dottedSuffixLengths : suffixLengths;
        return lengths[std::min(key.size(), longSuffix)];
    }

    void addSuffix(std::string_view key, quint32 position);
    void removeSuffix(std::string_view key, quint32 position);

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
    LoweredTexts requiredBuffer;
    std::vector<quint32> slicesBuffer;
};
