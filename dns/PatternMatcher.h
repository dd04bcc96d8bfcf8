#pragma once

#include <QRegExp>
#include <QtGlobal>

#include <array>
#include <bitset>
#include <string_view>

// Matches names against a case-insensitive pattern of a small regular subset of QRegExp's syntaxes,
// as its exactMatch() would, without building a QRegExp: compiling one takes tens of microseconds and
// kilobytes, reading the pattern here well under one, and a rule index tests few rules per name.
// The subset, outside which read() refuses:
// - Wildcard: '*', '?' and plain characters (no set, no '\' or ']').
// - RegExp: plain characters, ASCII punctuation escaped by '\', '.', sets of ASCII letters, digits,
//   '.' and '_' (ranges within one of lower case, upper case or digits; '^' negates), groups
//   ("(", "(?:") of alternatives ('|', empty ones too), each atom with at most one of '*', '+', '?'; a
//   '^' first and a '$' last, which exactMatch() makes no-ops.
// - At most 64 character positions, and no character that lowers outside Latin-1.
// QRegExp compares a character by QChar::toLower of both sides; a set member is taken in both cases.
// Reading builds the position automaton (Glushkov): one state per character position, at most 64,
// so that a set of states is one word.
class PatternMatcher {
public:
    bool read(std::u16string_view pattern, QRegExp::PatternSyntax syntax);
    // Latin-1 text, each byte one character.
    bool read(std::string_view pattern, QRegExp::PatternSyntax syntax);
    // `lowered`: a name lowered by RuleIndex::lowerLatin1.
    bool matches(std::string_view lowered) const;

private:
    static constexpr int maxPositions = 64;
    static constexpr int maxSets = 8;
    static constexpr quint16 anyCharacter = 256;
    static constexpr quint16 firstSet = 257;
    // The states a piece of the pattern enters by, leaves by, and whether it matches the empty text.
    struct Piece {
        quint64 first = 0;
        quint64 last = 0;
        bool nullable = true;
    };
    template <typename Char> class Reader;
    template <typename Char>
    bool readText(std::basic_string_view<Char> pattern, QRegExp::PatternSyntax syntax);

    quint64 accepting(quint64 states, uchar lowered) const;

    int count = 0;
    Piece whole;
    // Per position: the states that may follow it, and what it matches: a lowered character, any
    // character, or a set.
    std::array<quint64, maxPositions> follow;
    std::array<quint16, maxPositions> test;
    int setCount = 0;
    std::array<std::bitset<256>, maxSets> sets;
};
