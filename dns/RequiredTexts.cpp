// How the rule index reads a pattern. A rule is filed under texts that every name it matches holds,
// lower-cased (QRegExp ignores case by lowering both sides; a name is lowered the same way); a
// pattern whose texts are not known is tested for every name, never skipped.
//
// Wildcards:
// - Case-insensitive, without '*' '?' or a set after an optional leading '*', and without '\' or
//   ']': an exact name, or with the leading '*' a suffix, looked up by its lower-cased text. One
//   longer than PatternLimits::maxLength never matches, and so does one holding a character that
//   lowers outside Latin-1 (it equals no character of a name).
// - Otherwise every run of plain characters between '*', '?' and sets ("[...]", one character
//   whose value is not known) is a required text. A character that lowers outside Latin-1 ends a
//   run. A case-sensitive pattern without wildcard characters that holds one never matches.
// - A '\' or a ']' outside a set: no text is taken.
// Regular expressions:
// - Case-insensitive, a name of plain characters and escaped punctuation ("\.") between an optional
//   '^' and '$': an exact name. Led by ".*", a suffix; led by "(.*\.)?" or "(?:.*\.)?", the name
//   and every name below it ('.' matches any character, so ".*\." is any text that ends in a dot).
//   A character that lowers outside Latin-1 leaves the pattern to the readings below.
// - A required text is a run of plain characters and escaped punctuation ("\."). A quantifier
//   '*', '?' or "{...}" (any count, read as optional) takes its atom out and ends the run; '+'
//   keeps it and ends the run. '.', '^', '$', sets, classes, back-references and characters by
//   their code ("\x41") end a run and give nothing.
// - A group gives the texts of its inside, unless it is optional or a look-ahead ("(?=", "(?!"),
//   which may hold no text of the match. Of alternatives (a group's or the whole pattern's) each
//   gives its text whose shortest is longest, and they make one set: a match holds one of them.
//   An alternative without a text leaves the set unknown.
// - A requirement with a text that lowers outside Latin-1 is dropped: unknown, not unmet.
// - A ')' without its '(' gives nothing: QRegExp refuses the pattern.
// Any syntax: a pattern over PatternLimits (dns/PatternCost.h) never matches. Other syntaxes than
// Wildcard, RegExp and RegExp2 are tested for every name.
#include "dns/RequiredTexts.h"

#include "dns/PatternCost.h"
#include "dns/RuleIndex.h"

#include <QString>

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

// QChar::toLower, with a table for Latin-1, which most patterns are made of.
ushort lowerOf(QChar character)
{
    const ushort code = character.unicode();
    return code <= 0xff ? uchar(RuleIndex::lowerLatin1(char(code))) : character.toLower().unicode();
}

// `text` lower-cased, or false when a character lowers outside Latin-1.
bool lowerLatin1Into(const QString &text, std::string &lowered)
{
    lowered.clear();
    for (const QChar character : text) {
        const ushort lower = character.toLower().unicode();
        if (lower > 0xff)
            return false;
        lowered.push_back(char(lower));
    }
    return true;
}

// The index just after the group, set or quantifier that starts at `at`.
qsizetype skipBracketed(QStringView text, qsizetype at)
{
    const QChar open = text.at(at);
    const QChar close = open == u'(' ? u')' : open == u'[' ? u']' : u'}';
    // A ] first in a set, or after its negation (^, or ! in a wildcard), is a member.
    const qsizetype firstMember =
        at + 1 + (at + 1 < text.size() && (text.at(at + 1) == u'^' || text.at(at + 1) == u'!'));
    int depth = 0;
    for (qsizetype i = at; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\') {
            ++i;
        } else if (open == u'(' && c == u'[') {
            i = skipBracketed(text, i) - 1;
        } else if (open == u'[' && i == firstMember && c == u']') {
            continue;
        } else if (c == open && open != u'[') {
            ++depth;
        } else if (c == close && (open == u'[' || --depth == 0)) {
            return i + 1;
        }
    }
    return text.size();
}

// Reads a regular expression for the texts its matches hold; each piece of the pattern is read once.
class LiteralReader {
public:
    explicit LiteralReader(QStringView pattern) : text(pattern) {}

    RequiredTexts whole()
    {
        RequiredTexts required = alternatives();
        return at < text.size() ? RequiredTexts() : required;
    }

private:
    // Alternatives up to a ')' of this depth or the end.
    RequiredTexts alternatives()
    {
        RequiredTexts first = branch();
        if (at >= text.size() || text.at(at) != u'|')
            return first;
        QStringList texts;
        bool known = true;
        for (RequiredTexts required = std::move(first);; required = branch()) {
            const auto best = std::max_element(required.cbegin(), required.cend(),
                                               [](auto &a, auto &b) { return shortest(a) < shortest(b); });
            known = known && best != required.cend();
            if (known)
                texts += *best;
            if (at >= text.size() || text.at(at) != u'|')
                break;
            ++at;
        }
        return known ? RequiredTexts{texts} : RequiredTexts();
    }

    static qsizetype shortest(const QStringList &texts)
    {
        qsizetype length = std::numeric_limits<qsizetype>::max();
        for (const QString &text : texts)
            length = std::min(length, text.size());
        return length;
    }

    // Atoms up to a '|' or ')' of this depth or the end.
    RequiredTexts branch()
    {
        RequiredTexts required;
        QString run;
        const auto endRun = [&] {
            if (!run.isEmpty())
                required.push_back({run});
            run.clear();
        };
        while (at < text.size() && text.at(at) != u'|' && text.at(at) != u')') {
            const QChar c = text.at(at);
            QChar literal;
            RequiredTexts inner;
            qsizetype next = at + 1;
            if (c == u'(') {
                const QStringView rest = text.sliced(next);
                const bool lookAhead = rest.startsWith(u"?=") || rest.startsWith(u"?!");
                if (rest.startsWith(u'?'))
                    next += 2;
                at = next;
                inner = alternatives();
                next = at < text.size() ? at + 1 : at;
                if (lookAhead)
                    inner.clear();
            } else if (c == u'[' || c == u'{') {
                next = skipBracketed(text, at);
            } else if (c == u'\\' && next < text.size() && !text.at(next).isLetterOrNumber()) {
                literal = text.at(next);
                next += 1;
            } else if (c == u'\\') {
                while (next < text.size() && text.at(next).isLetterOrNumber())
                    ++next;
            } else if (!QStringView(u".^$*+?]").contains(c)) {
                literal = c;
            }
            const QChar quantifier = next < text.size() ? text.at(next) : QChar();
            const bool optional = quantifier == u'*' || quantifier == u'?' || quantifier == u'{';
            if (!literal.isNull() && !optional)
                run += literal;
            if (literal.isNull() || optional || quantifier == u'+')
                endRun();
            if (!optional)
                std::move(inner.begin(), inner.end(), std::back_inserter(required));
            at = next;
        }
        endRun();
        return required;
    }

    QStringView text;
    qsizetype at = 0;
};

// A regular expression of one of the name shapes above: its kind, and the name lower-cased into `key`.
// Other for any other pattern.
PatternKind readRegExpName(QStringView text, std::string &key)
{
    key.clear();
    qsizetype at = text.startsWith(u'^') ? 1 : 0;
    PatternKind kind = PatternKind::Exact;
    const QStringView rest = text.sliced(at);
    for (const QStringView below : {QStringView(u"(.*\\.)?"), QStringView(u"(?:.*\\.)?")}) {
        if (rest.startsWith(below)) {
            kind = PatternKind::NameOrBelow;
            at += below.size();
        }
    }
    if (kind == PatternKind::Exact && rest.startsWith(u".*")) {
        kind = PatternKind::Suffix;
        at += 2;
    }
    for (; at < text.size(); ++at) {
        QChar c = text.at(at);
        if (c == u'$' && at + 1 == text.size())
            break;
        if (c == u'\\') {
            // Escaped ASCII punctuation is the character itself; escaped letters and digits are classes,
            // codes and back-references.
            if (++at == text.size() || text.at(at).unicode() >= 0x80 || text.at(at).isLetterOrNumber())
                return PatternKind::Other;
            c = text.at(at);
        } else if (QStringView(u"^$.[]{}()|*+?").contains(c)) {
            return PatternKind::Other;
        }
        const ushort lower = lowerOf(c);
        if (lower > 0xff)
            return PatternKind::Other;
        key.push_back(char(lower));
    }
    return kind;
}

} // namespace

RequiredTexts regularExpressionLiterals(QStringView pattern)
{
    return LiteralReader(pattern).whole();
}

PatternKind readPattern(QStringView text, QRegExp::PatternSyntax syntax, Qt::CaseSensitivity caseSensitivity,
                        std::string &key, LoweredTexts &required)
{
    key.clear();
    required.clear();
    // A name of a hosts line is looked up as itself.
    if (syntax == QRegExp::FixedString && caseSensitivity == Qt::CaseInsensitive) {
        if (text.size() > PatternLimits::maxLength)
            return PatternKind::Never; // longer than any name
        for (const QChar c : text) {
            const ushort lower = c.toLower().unicode();
            if (lower > 0xff)
                return PatternKind::Never; // equals no character of a name
            key.push_back(char(lower));
        }
        return PatternKind::Exact;
    }
    if (syntax != QRegExp::Wildcard) {
        if (!isTractable(text, syntax))
            return PatternKind::Intractable;
        if (syntax != QRegExp::RegExp && syntax != QRegExp::RegExp2)
            return PatternKind::Other;
        if (syntax == QRegExp::RegExp && caseSensitivity == Qt::CaseInsensitive) {
            const PatternKind kind = readRegExpName(text, key);
            if (kind != PatternKind::Other)
                return kind;
            key.clear();
        }
        for (const QStringList &texts : regularExpressionLiterals(text)) {
            std::vector<std::string> lowered(std::size_t(texts.size()));
            bool latin1 = true;
            for (qsizetype i = 0; i < texts.size() && latin1; ++i)
                latin1 = lowerLatin1Into(texts.at(i), lowered[std::size_t(i)]);
            if (latin1)
                required.push_back(std::move(lowered));
        }
        return PatternKind::Other;
    }
    const bool suffix = text.startsWith(QLatin1Char('*'));
    // Most rules are a name or a suffix of Latin-1 characters: one tight pass reads them.
    if (caseSensitivity == Qt::CaseInsensitive && text.size() <= PatternLimits::maxLength) {
        key.resize(std::size_t(text.size() - suffix));
        char *out = key.data();
        const auto plain = [&out](QChar c) {
            const ushort code = c.unicode();
            *out++ = RuleIndex::lowerLatin1(char(code));
            return code <= 0xff && code != '*' && code != '?' && code != '[' && code != ']' && code != '\\';
        };
        if (std::all_of(text.cbegin() + suffix, text.cend(), plain))
            return suffix ? PatternKind::Suffix : PatternKind::Exact;
        key.clear();
    }
    bool wild = false;
    bool escaped = false;
    bool latin1 = true;
    const auto endRun = [&] {
        if (!key.empty())
            required.push_back({key});
        key.clear();
    };
    for (qsizetype at = suffix ? 1 : 0; at < text.size() && !escaped; ++at) {
        const QChar character = text.at(at);
        switch (character.unicode()) {
        case '[':
            at = skipBracketed(text, at) - 1;
            Q_FALLTHROUGH();
        case '*':
        case '?':
            wild = true;
            endRun();
            continue;
        case ']':
        case '\\':
            escaped = true;
            continue;
        default:
            break;
        }
        // The rest of the text may still make the pattern an unindexed one, so the scan goes on.
        const ushort lower = lowerOf(character);
        if (lower > 0xff) {
            latin1 = false;
            endRun();
        } else {
            key.push_back(char(lower));
        }
    }
    const bool indexed = !wild && !escaped && caseSensitivity == Qt::CaseInsensitive;
    // An exact name or a suffix is never compiled: only its length can make it too costly.
    if (indexed ? text.size() > PatternLimits::maxLength : !isTractable(text, syntax)) {
        key.clear();
        required.clear();
        return PatternKind::Intractable;
    }
    if (indexed)
        return !latin1 ? PatternKind::Never : suffix ? PatternKind::Suffix : PatternKind::Exact;
    if (escaped) {
        key.clear();
        required.clear();
        return PatternKind::Other;
    }
    endRun();
    return !wild && !latin1 ? PatternKind::Never : PatternKind::Other;
}
