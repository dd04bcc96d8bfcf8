#include "dns/PatternCost.h"

#include <QStringView>

#include <algorithm>
#include <bitset>
#include <limits>
#include <vector>

namespace {

constexpr double infinite = std::numeric_limits<double>::infinity();
// QRegExp's largest repetition count.
constexpr int maxRepetition = 1024;
constexpr std::size_t deepest = PatternLimits::maxNameCharacters;

// A part of the automaton: its states and transitions, how many states enter and leave it, whether
// it holds a capturing group, and the work of its look-aheads per character of the text.
// QRegExp's automaton has a state per atom; a state that the last character reached tests each of
// its transitions against the next one. A state that only the d-th character of the piece's text
// can reach is active at that one step: its work counts in `byDepth[d]`. A state that a loop may
// reach at any step counts in `anywhere`. The work per character is at most `anywhere` and the
// largest `byDepth`. Without `deep`, every state counts in `anywhere`: a quicker bound, and enough
// for most patterns.
struct Piece {
    bool deep = false;
    double states = 0;
    double transitions = 0;
    double entries = 0;
    double exits = 0;
    bool capturing = false;
    double lookAhead = 0;
    std::vector<double> byDepth;
    double anywhere = 0;
    // The lengths of the texts the piece matches, up to the longest name (without `deep`, only
    // whether it matches the empty text); `unbounded` when a loop makes them longer.
    std::bitset<deepest + 1> lengths = 1;
    bool unbounded = false;

    bool nullable() const { return lengths.test(0); }
    double size() const { return states + transitions; }
    double workPerCharacter() const
    {
        return anywhere + lookAhead +
               (byDepth.empty() ? 0 : *std::max_element(byDepth.cbegin(), byDepth.cend()));
    }
    // The work of the states at `depth` of another piece that follows this one.
    void addAfter(std::size_t depth, double work)
    {
        if (unbounded || !deep) {
            anywhere += work;
            return;
        }
        for (std::size_t length = 0; length + depth <= deepest; ++length) {
            if (!lengths.test(length))
                continue;
            if (byDepth.size() <= length + depth)
                byDepth.resize(length + depth + 1);
            byDepth[length + depth] += work;
        }
    }
};

Piece blank(bool deep)
{
    Piece piece;
    piece.deep = deep;
    return piece;
}

Piece atom(bool deep)
{
    Piece piece = blank(deep);
    piece.states = piece.entries = piece.exits = 1;
    if (deep) {
        piece.lengths = 2; // one character
        piece.byDepth = {0, 1};
    } else {
        piece.lengths = 0;
        piece.anywhere = 1;
    }
    return piece;
}

// Every exit of `a` is joined to every entry of `b`, and a part that can match nothing lets the
// other's ends through.
void follow(Piece &a, const Piece &b)
{
    // The joins are transitions of a's exits, which are active where a's texts end.
    const double joins = a.exits * b.entries;
    a.transitions += b.transitions + joins;
    a.addAfter(0, joins);
    for (std::size_t depth = 0; depth < b.byDepth.size(); ++depth)
        a.addAfter(depth, b.byDepth[depth]);
    a.anywhere += b.anywhere;
    a.states += b.states;
    a.entries += a.nullable() ? b.entries : 0;
    a.exits = b.exits + (b.nullable() ? a.exits : 0);
    a.capturing = a.capturing || b.capturing;
    a.lookAhead += b.lookAhead;
    std::bitset<deepest + 1> lengths = a.nullable() && b.nullable();
    for (std::size_t length = 1; a.deep && length <= deepest; ++length) {
        if (b.lengths.test(length))
            lengths |= a.lengths << length;
    }
    a.unbounded = (a.unbounded && b.lengths.any()) || (b.unbounded && a.lengths.any());
    a.lengths = lengths;
}

// `b` as an alternative to `a`.
void alternate(Piece &a, const Piece &b)
{
    a.states += b.states;
    a.transitions += b.transitions;
    a.entries += b.entries;
    a.exits += b.exits;
    a.capturing = a.capturing || b.capturing;
    a.lookAhead += b.lookAhead;
    a.byDepth.resize(std::max(a.byDepth.size(), b.byDepth.size()));
    for (std::size_t depth = 0; depth < b.byDepth.size(); ++depth)
        a.byDepth[depth] += b.byDepth[depth];
    a.anywhere += b.anywhere;
    a.lengths |= b.lengths;
    a.unbounded = a.unbounded || b.unbounded;
}

// One or more times: every exit is joined back to every entry, and every state may be active at
// any step. Captures on those transitions are compared state by state, which measures as a further
// factor of the loop's width.
Piece loop(Piece piece)
{
    const double width = piece.capturing ? 1 + piece.entries + piece.exits : 1;
    const double back = piece.exits * piece.entries * width;
    piece.transitions += back;
    for (const double work : piece.byDepth)
        piece.anywhere += work;
    piece.anywhere += back;
    piece.byDepth.clear();
    piece.unbounded = true;
    return piece;
}

Piece optional(Piece piece)
{
    piece.lengths.set(0);
    return piece;
}

// `atom` {min,max}, max < 0 for no upper bound: a copy per count, as QRegExp builds it.
Piece repeated(const Piece &atom, int min, int max)
{
    Piece piece = blank(atom.deep);
    if (min > maxRepetition || max > maxRepetition) {
        piece.states = infinite; // QRegExp refuses the pattern; no count is spent on it
        return piece;
    }
    const Piece optionalAtom = optional(atom);
    const int copies = max < 0 ? min - 1 : max;
    for (int i = 0; i < copies && piece.size() <= PatternLimits::maxAutomatonSize; ++i)
        follow(piece, i < min ? atom : optionalAtom);
    if (max < 0)
        follow(piece, min == 0 ? optional(loop(atom)) : loop(atom));
    return piece;
}

// Reads the regular-expression syntax of QRegExp far enough to size its automaton. What QRegExp
// would refuse is sized as well as it reads, so the estimate never depends on QRegExp's verdict.
class RegExpReader {
public:
    RegExpReader(QStringView text, bool deep) : text(text), deep(deep) {}

    Piece whole()
    {
        Piece whole = blank(deep);
        while (at < text.size()) {
            alternate(whole, alternatives());
            ++at; // a ')' without its '(': QRegExp refuses the pattern; read on
        }
        if (backReference || tooDeep)
            whole.anywhere = infinite;
        return whole;
    }

private:
    bool atEnd() const { return at >= text.size(); }
    QChar peek() const { return text.at(at); }

    // Alternatives up to a closing ')' or the end.
    Piece alternatives()
    {
        Piece piece = branch();
        while (!atEnd() && peek() == QLatin1Char('|')) {
            ++at;
            alternate(piece, branch());
        }
        return piece;
    }

    Piece branch()
    {
        Piece piece = blank(deep);
        while (!atEnd() && peek() != QLatin1Char('|') && peek() != QLatin1Char(')'))
            follow(piece, quantified(element()));
        return piece;
    }

    Piece element()
    {
        const QChar c = text.at(at++);
        if (c == QLatin1Char('^') || c == QLatin1Char('$'))
            return blank(deep); // an anchor matches no character
        if (c == QLatin1Char('('))
            return group();
        if (c == QLatin1Char('['))
            skipSet();
        else if (c == QLatin1Char('\\'))
            return escape();
        return atom(deep);
    }

    Piece group()
    {
        const QStringView rest = text.sliced(at);
        const bool lookAhead = rest.startsWith(QLatin1String("?=")) || rest.startsWith(QLatin1String("?!"));
        const bool capturing = !lookAhead && !rest.startsWith(QLatin1String("?:"));
        if (!capturing)
            at += 2;
        if (++groupDepth > PatternLimits::maxGroupDepth) {
            tooDeep = true;
            at = text.size(); // read no deeper
            return blank(deep);
        }
        Piece inner = alternatives();
        --groupDepth;
        if (!atEnd())
            ++at; // ')'
        if (!lookAhead) {
            inner.capturing = inner.capturing || capturing;
            return inner;
        }
        // Tried from every position it is reached at, over the rest of the text.
        Piece anchor = blank(deep);
        anchor.lookAhead = (inner.size() + inner.lookAhead) * PatternLimits::maxNameCharacters;
        return anchor;
    }

    Piece escape()
    {
        if (atEnd())
            return atom(deep);
        const QChar c = text.at(at++);
        if (c >= QLatin1Char('1') && c <= QLatin1Char('9'))
            backReference = true;
        if (c == QLatin1Char('b') || c == QLatin1Char('B'))
            return blank(deep); // word boundaries are anchors
        return atom(deep);
    }

    // Past the ']' that closes a set; a ']' right after "[" or "[^" belongs to the set.
    void skipSet()
    {
        if (!atEnd() && peek() == QLatin1Char('^'))
            ++at;
        if (!atEnd() && peek() == QLatin1Char(']'))
            ++at;
        while (!atEnd() && peek() != QLatin1Char(']'))
            at += peek() == QLatin1Char('\\') ? 2 : 1;
        if (!atEnd())
            ++at;
    }

    Piece quantified(Piece piece)
    {
        while (!atEnd()) {
            const QChar c = peek();
            int min = 0;
            int max = -1;
            if (c == QLatin1Char('*')) {
                ++at;
                piece = optional(loop(piece));
            } else if (c == QLatin1Char('+')) {
                ++at;
                piece = loop(piece);
            } else if (c == QLatin1Char('?')) {
                ++at;
                piece = optional(piece);
            } else if (c == QLatin1Char('{') && readBounds(min, max)) {
                piece = repeated(piece, min, max);
            } else {
                return piece;
            }
        }
        return piece;
    }

    // "{n}", "{n,}", "{,m}" or "{n,m}" at the position; false, and nothing read, for anything else.
    bool readBounds(int &min, int &max)
    {
        qsizetype end = at + 1;
        const auto number = [&](int &value) {
            const qsizetype start = end;
            value = 0;
            while (end < text.size() && text.at(end).isDigit() && end - start < 5)
                value = value * 10 + text.at(end++).digitValue();
            return end > start;
        };
        const bool hasMin = number(min);
        if (end < text.size() && text.at(end) == QLatin1Char('}')) {
            if (!hasMin)
                return false;
            max = min;
        } else {
            if (end >= text.size() || text.at(end) != QLatin1Char(','))
                return false;
            ++end;
            if (!number(max))
                max = -1;
            if (end >= text.size() || text.at(end) != QLatin1Char('}'))
                return false;
            if (!hasMin)
                min = 0;
        }
        at = end + 1;
        return true;
    }

    QStringView text;
    bool deep;
    qsizetype at = 0;
    bool backReference = false;
    int groupDepth = 0;
    bool tooDeep = false;
};

// "*" is any run of characters, "?" one character, "[...]" one of a set; every other character is
// itself.
Piece wildcard(QStringView text, bool deep)
{
    Piece whole = blank(deep);
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if (c == QLatin1Char('*')) {
            follow(whole, optional(loop(atom(deep))));
            continue;
        }
        if (c == QLatin1Char('[')) {
            const qsizetype close = text.indexOf(QLatin1Char(']'), at + 2);
            if (close > 0)
                at = close;
        }
        follow(whole, atom(deep));
    }
    return whole;
}

Piece measure(QStringView pattern, QRegExp::PatternSyntax syntax, bool deep)
{
    Piece whole = blank(deep);
    switch (syntax) {
    case QRegExp::Wildcard:
    case QRegExp::WildcardUnix:
        whole = wildcard(pattern, deep);
        break;
    case QRegExp::FixedString:
        for (qsizetype at = 0; at < pattern.size(); ++at)
            follow(whole, atom(deep));
        break;
    case QRegExp::RegExp:
    case QRegExp::RegExp2:
    case QRegExp::W3CXmlSchema11:
        whole = RegExpReader(pattern, deep).whole();
        break;
    }
    // The start state's transitions, tested against the first character.
    if (!deep)
        whole.anywhere += whole.entries;
    else if (whole.byDepth.empty())
        whole.byDepth.push_back(whole.entries);
    else
        whole.byDepth.front() += whole.entries;
    return whole;
}

} // namespace

PatternCost patternCost(QStringView pattern, QRegExp::PatternSyntax syntax)
{
    // Most patterns are within the limits even when every state counts at every step.
    Piece whole = measure(pattern, syntax, false);
    if (whole.size() <= PatternLimits::maxAutomatonSize &&
        whole.workPerCharacter() > PatternLimits::maxWorkPerCharacter)
        whole = measure(pattern, syntax, true);
    return PatternCost{whole.size(), whole.workPerCharacter()};
}

bool isTractable(QStringView pattern, QRegExp::PatternSyntax syntax)
{
    if (pattern.size() > PatternLimits::maxLength)
        return false;
    const PatternCost cost = patternCost(pattern, syntax);
    return cost.size <= PatternLimits::maxAutomatonSize &&
           cost.workPerCharacter <= PatternLimits::maxWorkPerCharacter;
}

bool isTractable(const QRegExp &pattern)
{
    return isTractable(pattern.pattern(), pattern.patternSyntax());
}

void setPatternLazily(QRegExp &target, const QString &pattern, QRegExp::PatternSyntax syntax,
                      Qt::CaseSensitivity caseSensitivity)
{
    target.setPatternSyntax(syntax);
    target.setCaseSensitivity(caseSensitivity);
    target.setPattern(pattern);
}
