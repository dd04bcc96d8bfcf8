#pragma once

#include <QRegExp>
#include <QString>
#include <QStringView>

// QRegExp runs its patterns as a non-deterministic automaton without backtracking, so "(a+)+$" costs
// no more than "a+$". What does cost is the automaton's size and how much of it is active at once,
// step by step: counted repetitions copy their atom (nested ones multiply,
// "((a{0,100}){0,100}){0,100}" exhausts memory while compiling), a loop over k alternatives or
// nullable parts adds k*k transitions ("(a|a|...)+" with 250 alternatives takes 17 s on a
// 253-character name), and back-references and look-aheads make a match grow with the square of
// the name. A pattern whose estimated work is over these limits is never compiled or
// matched: its rule never matches, as one with an invalid pattern.
namespace PatternLimits {
// Characters of a pattern: room for an alternation of a few hundred names.
constexpr int maxLength = 4096;
// States and transitions of the automaton, which QRegExp builds and sets up for every match.
constexpr double maxAutomatonSize = 20000;
// Automaton steps per character of the name: about 0.2 us each, so at most about 0.15 s per rule
// for the longest name a query may hold.
constexpr double maxWorkPerCharacter = 3000;
// Groups within groups: QRegExp reads them by recursion, and a thread's stack may be 1 MB (Windows).
constexpr int maxGroupDepth = 200;
// Characters of the longest name looked up (RFC 1035 2.3.4: 255 octets on the wire).
constexpr int maxNameCharacters = 253;
} // namespace PatternLimits

// The size of QRegExp's automaton for a pattern, and its steps per character of the matched text,
// estimated from the pattern as its syntax reads it: upper bounds for the patterns that QRegExp
// accepts. Steps count only the states that can be active at once: in a pattern without loops,
// those that the same number of characters reach. Back-references, and groups nested deeper than
// maxGroupDepth, give infinite steps.
struct PatternCost {
    double size;
    double workPerCharacter;
};
PatternCost patternCost(QStringView pattern, QRegExp::PatternSyntax syntax);

// True when `pattern` stays within PatternLimits, so that QRegExp may compile and match it.
bool isTractable(QStringView pattern, QRegExp::PatternSyntax syntax);
bool isTractable(const QRegExp &pattern);

// Gives `target` this pattern piece by piece, so that it compiles on its first match: a QRegExp
// constructed with its pattern, or copied, compiles at once, however costly the pattern.
void setPatternLazily(QRegExp &target, const QString &pattern, QRegExp::PatternSyntax syntax,
                      Qt::CaseSensitivity caseSensitivity);
