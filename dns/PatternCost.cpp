#include "dns/PatternCost.h"

#include <QStringView>

#include <limits>

namespace {

constexpr double infinite = std::numeric_limits<double>::infinity();
// QRegExp's largest repetition count.
constexpr int maxRepetition = 1024;

// A part of the automaton: its states and transitions, how many states enter and leave it, whether
// it can match nothing or holds a capturing group, and the work of its look-aheads per character of
// the text.
struct Piece {
    double states = 0;
    double transitions = 0;
    double entries = 0;
    double exits = 0;
    bool nullable = true;
    bool capturing = false;
    double lookAhead = 0;

    double work() const { return states + transitions + lookAhead; }
};

Piece atom()
{
    Piece piece;
    piece.states = piece.entries = piece.exits = 1;
    piece.nullable = false;
    return piece;
}

// Every exit of `a` is joined to every entry of `b`, and a part that can match nothing lets the
// other's ends through.
Piece sequence(const Piece &a, const Piece &b)
{
    Piece piece;
    piece.states = a.states + b.states;
    piece.transitions = a.transitions + b.transitions + a.exits * b.entries;
    piece.entries = a.entries + (a.nullable ? b.entries : 0);
    piece.exits = b.exits + (b.nullable ? a.exits : 0);
    piece.nullable = a.nullable && b.nullable;
    piece.capturing = a.capturing || b.capturing;
    piece.lookAhead = a.lookAhead + b.lookAhead;
    return piece;
}

Piece either(const Piece &a, const Piece &b)
{
    Piece piece;
    piece.states = a.states + b.states;
    piece.transitions = a.transitions + b.transitions;
    piece.entries = a.entries + b.entries;
    piece.exits = a.exits + b.exits;
    piece.nullable = a.nullable || b.nullable;
    piece.capturing = a.capturing || b.capturing;
    piece.lookAhead = a.lookAhead + b.lookAhead;
    return piece;
}

// One or more times: every exit is joined back to every entry. Captures on those transitions are
// compared state by state, which measures as a further factor of the loop's width.
Piece loop(Piece piece)
{
    const double width = piece.capturing ? 1 + piece.entries + piece.exits : 1;
    piece.transitions += piece.exits * piece.entries * width;
    return piece;
}

Piece optional(Piece piece)
{
    piece.nullable = true;
    return piece;
}

// `atom` {min,max}, max < 0 for no upper bound: a copy per count, as QRegExp builds it.
Piece repeated(const Piece &atom, int min, int max)
{
    Piece piece;
    if (min > maxRepetition || max > maxRepetition) {
        piece.states = infinite; // QRegExp refuses the pattern; no count is spent on it
        return piece;
    }
    if (max < 0) {
        for (int i = 0; i + 1 < min; ++i)
            piece = sequence(piece, atom);
        const Piece last = loop(atom);
        return sequence(piece, min == 0 ? optional(last) : last);
    }
    for (int i = 0; i < max; ++i)
        piece = sequence(piece, i < min ? atom : optional(atom));
    return piece;
}

// Reads the regular-expression syntax of QRegExp far enough to size its automaton. What QRegExp
// would refuse is sized as well as it reads, so the estimate never depends on QRegExp's verdict.
class RegExpReader {
public:
    explicit RegExpReader(QStringView text) : text(text) {}

    double work()
    {
        Piece whole;
        while (at < text.size()) {
            whole = either(whole, alternatives());
            ++at; // a ')' without its '(': QRegExp refuses the pattern; read on
        }
        return backReference ? infinite : whole.work();
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
            piece = either(piece, branch());
        }
        return piece;
    }

    Piece branch()
    {
        Piece piece;
        while (!atEnd() && peek() != QLatin1Char('|') && peek() != QLatin1Char(')'))
            piece = sequence(piece, quantified(element()));
        return piece;
    }

    Piece element()
    {
        const QChar c = text.at(at++);
        if (c == QLatin1Char('^') || c == QLatin1Char('$'))
            return Piece(); // an anchor matches no character
        if (c == QLatin1Char('('))
            return group();
        if (c == QLatin1Char('['))
            skipSet();
        else if (c == QLatin1Char('\\'))
            return escape();
        return atom();
    }

    Piece group()
    {
        const QStringView rest = text.sliced(at);
        const bool lookAhead = rest.startsWith(QLatin1String("?=")) || rest.startsWith(QLatin1String("?!"));
        const bool capturing = !lookAhead && !rest.startsWith(QLatin1String("?:"));
        if (!capturing)
            at += 2;
        Piece inner = alternatives();
        if (!atEnd())
            ++at; // ')'
        if (!lookAhead) {
            inner.capturing = inner.capturing || capturing;
            return inner;
        }
        // Tried from every position it is reached at, over the rest of the text.
        Piece anchor;
        anchor.lookAhead = inner.work() * PatternLimits::maxNameCharacters;
        return anchor;
    }

    Piece escape()
    {
        if (atEnd())
            return atom();
        const QChar c = text.at(at++);
        if (c >= QLatin1Char('1') && c <= QLatin1Char('9'))
            backReference = true;
        if (c == QLatin1Char('b') || c == QLatin1Char('B'))
            return Piece(); // word boundaries are anchors
        return atom();
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
    qsizetype at = 0;
    bool backReference = false;
};

// "*" is any run of characters, "?" one character, "[...]" one of a set; every other character is
// itself.
double wildcardWork(QStringView text)
{
    Piece whole;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if (c == QLatin1Char('*')) {
            whole = sequence(whole, optional(loop(atom())));
            continue;
        }
        if (c == QLatin1Char('[')) {
            const qsizetype close = text.indexOf(QLatin1Char(']'), at + 2);
            if (close > 0)
                at = close;
        }
        whole = sequence(whole, atom());
    }
    return whole.work();
}

} // namespace

double patternWork(const QString &pattern, QRegExp::PatternSyntax syntax)
{
    switch (syntax) {
    case QRegExp::Wildcard:
    case QRegExp::WildcardUnix:
        return wildcardWork(pattern);
    case QRegExp::FixedString:
        return 2.0 * pattern.size(); // a chain of atoms
    case QRegExp::RegExp:
    case QRegExp::RegExp2:
    case QRegExp::W3CXmlSchema11:
        break;
    }
    return RegExpReader(pattern).work();
}

bool isTractable(const QRegExp &pattern)
{
    const QString text = pattern.pattern();
    return text.size() <= PatternLimits::maxLength &&
           patternWork(text, pattern.patternSyntax()) <= PatternLimits::maxWorkPerCharacter;
}

void setPatternLazily(QRegExp &target, const QString &pattern, QRegExp::PatternSyntax syntax,
                      Qt::CaseSensitivity caseSensitivity)
{
    target.setPatternSyntax(syntax);
    target.setCaseSensitivity(caseSensitivity);
    target.setPattern(pattern);
}
