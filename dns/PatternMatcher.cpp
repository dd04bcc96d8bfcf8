#include "dns/PatternMatcher.h"

#include "dns/RuleIndex.h"

#include <QChar>

template <typename Char> class PatternMatcher::Reader {
public:
    Reader(PatternMatcher &automaton, std::basic_string_view<Char> text) : automaton(automaton), text(text) {}

    bool wildcard()
    {
        Piece whole;
        for (; at < text.size(); ++at) {
            const char16_t c = peek();
            Piece piece;
            if (c == u'*') {
                piece = star(position(anyCharacter));
            } else if (c == u'?') {
                piece = position(anyCharacter);
            } else if (c == u'[' || c == u']' || c == u'\\') {
                return false;
            } else {
                piece = character(c);
            }
            if (failed)
                return false;
            follow(whole, piece);
        }
        automaton.whole = whole;
        return true;
    }

    bool regExp()
    {
        if (at < text.size() && peek() == u'^')
            ++at;
        if (!text.empty() && text.back() == u'$' && !escapedAt(text.size() - 1))
            text.remove_suffix(1);
        const Piece whole = alternatives();
        if (failed || at != text.size())
            return false;
        automaton.whole = whole;
        return true;
    }

private:
    char16_t peek() const { return char16_t(std::make_unsigned_t<Char>(text[at])); }

    // Whether the character at `end` follows an odd run of backslashes.
    bool escapedAt(std::size_t end) const
    {
        std::size_t slashes = 0;
        while (slashes < end && text[end - slashes - 1] == Char('\\'))
            ++slashes;
        return slashes % 2 == 1;
    }

    Piece position(quint16 test)
    {
        const int index = automaton.count;
        if (index == maxPositions) {
            failed = true;
            return Piece();
        }
        ++automaton.count;
        automaton.follow[std::size_t(index)] = 0;
        automaton.test[std::size_t(index)] = test;
        const quint64 state = quint64(1) << index;
        return Piece{state, state, false};
    }

    Piece character(char16_t c)
    {
        const ushort lower = lowerOf(c);
        if (lower > 0xff) {
            failed = true;
            return Piece();
        }
        return position(lower);
    }

    static ushort lowerOf(char16_t c)
    {
        return c <= 0xff ? uchar(RuleIndex::lowerLatin1(char(c))) : QChar(c).toLower().unicode();
    }

    // Every state that `from` leaves by may go on to those that `to` enters by.
    void link(quint64 from, quint64 to)
    {
        for (; from != 0; from &= from - 1)
            automaton.follow[std::size_t(qCountTrailingZeroBits(from))] |= to;
    }

    void follow(Piece &a, const Piece &b)
    {
        link(a.last, b.first);
        a.first |= a.nullable ? b.first : 0;
        a.last = b.last | (b.nullable ? a.last : 0);
        a.nullable = a.nullable && b.nullable;
    }

    Piece star(Piece piece)
    {
        link(piece.last, piece.first);
        piece.nullable = true;
        return piece;
    }

    Piece alternatives()
    {
        Piece piece = branch();
        while (!failed && at < text.size() && peek() == u'|') {
            ++at;
            const Piece other = branch();
            piece.first |= other.first;
            piece.last |= other.last;
            piece.nullable = piece.nullable || other.nullable;
        }
        return piece;
    }

    Piece branch()
    {
        Piece piece;
        while (!failed && at < text.size() && peek() != u'|' && peek() != u')') {
            Piece atom = this->atom();
            if (failed)
                break;
            if (at < text.size() && (peek() == u'*' || peek() == u'+' || peek() == u'?')) {
                const char16_t quantifier = peek();
                ++at;
                if (quantifier != u'?')
                    link(atom.last, atom.first);
                atom.nullable = atom.nullable || quantifier != u'+';
            }
            follow(piece, atom);
        }
        return piece;
    }

    Piece atom()
    {
        const char16_t c = peek();
        ++at;
        switch (c) {
        case u'(': {
            if (at < text.size() && peek() == u'?') {
                if (at + 1 == text.size() || text[at + 1] != Char(':'))
                    return fail(); // a look-ahead
                at += 2;
            }
            const Piece inner = alternatives();
            if (failed || at == text.size() || peek() != u')')
                return fail();
            ++at;
            return inner;
        }
        case u'.':
            return position(anyCharacter);
        case u'[':
            return set();
        case u'\\': {
            // Escaped letters and digits are classes, codes and back-references.
            const char16_t escaped = at < text.size() ? peek() : u'a';
            if (escaped >= 0x80 || QChar(escaped).isLetterOrNumber())
                return fail();
            ++at;
            return character(escaped);
        }
        default:
            if (std::u16string_view(u"^$[]{}()|*+?").find(c) != std::u16string_view::npos)
                return fail();
            return character(c);
        }
    }

    static bool isMember(char16_t c)
    {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'.' || c == u'_';
    }

    static int rangeClass(char16_t c) { return c >= u'a' && c <= u'z' ? 1 : c >= u'A' && c <= u'Z' ? 2 : 3; }

    Piece set()
    {
        if (automaton.setCount == maxSets)
            return fail();
        std::bitset<256> members;
        const bool negated = at < text.size() && peek() == u'^';
        at += negated;
        while (at < text.size() && peek() != u']') {
            const char16_t from = peek();
            char16_t to = from;
            if (!isMember(from))
                return fail();
            ++at;
            if (at + 1 < text.size() && peek() == u'-') {
                to = char16_t(std::make_unsigned_t<Char>(text[at + 1]));
                if (from == u'.' || from == u'_' || !isMember(to) || rangeClass(from) != rangeClass(to) ||
                    to < from)
                    return fail();
                at += 2;
            }
            for (char16_t member = from; member <= to; ++member)
                members.set(lowerOf(member));
        }
        if (at == text.size() || members.none())
            return fail();
        ++at;
        if (negated)
            members.flip();
        automaton.sets[std::size_t(automaton.setCount)] = members;
        return position(quint16(firstSet + automaton.setCount++));
    }

    Piece fail()
    {
        failed = true;
        return Piece();
    }

    PatternMatcher &automaton;
    std::basic_string_view<Char> text;
    std::size_t at = 0;
    bool failed = false;
};

template <typename Char>
bool PatternMatcher::readText(std::basic_string_view<Char> pattern, QRegExp::PatternSyntax syntax)
{
    count = setCount = 0;
    if (syntax != QRegExp::Wildcard && syntax != QRegExp::RegExp)
        return false;
    Reader<Char> reader(*this, pattern);
    return syntax == QRegExp::Wildcard ? reader.wildcard() : reader.regExp();
}

bool PatternMatcher::read(std::u16string_view pattern, QRegExp::PatternSyntax syntax)
{
    return readText(pattern, syntax);
}

bool PatternMatcher::read(std::string_view pattern, QRegExp::PatternSyntax syntax)
{
    return readText(pattern, syntax);
}

quint64 PatternMatcher::accepting(quint64 states, uchar lowered) const
{
    quint64 accepted = 0;
    for (quint64 rest = states; rest != 0; rest &= rest - 1) {
        const int state = qCountTrailingZeroBits(rest);
        const quint16 wanted = test[std::size_t(state)];
        if (wanted == lowered || wanted == anyCharacter ||
            (wanted >= firstSet && sets[std::size_t(wanted - firstSet)].test(lowered)))
            accepted |= quint64(1) << state;
    }
    return accepted;
}

bool PatternMatcher::matches(std::string_view lowered) const
{
    if (lowered.empty())
        return whole.nullable;
    quint64 states = accepting(whole.first, uchar(lowered.front()));
    for (std::size_t at = 1; at < lowered.size() && states != 0; ++at) {
        quint64 next = 0;
        for (quint64 rest = states; rest != 0; rest &= rest - 1)
            next |= follow[std::size_t(qCountTrailingZeroBits(rest))];
        states = accepting(next, uchar(lowered[at]));
    }
    return (states & whole.last) != 0;
}
