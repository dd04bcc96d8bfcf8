#pragma once

#include "dns/DnsMessage.h"
#include "dns/HostRule.h"
#include "dns/PatternCost.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <iterator>

// The bodies of the fuzz targets, run by the libFuzzer entry point. Each returns false when an input
// breaks an invariant.
namespace FuzzTargets {

inline HostRules fixedRules(QRegExp::PatternSyntax syntax)
{
    static const char *const lines[] = {
        "127.0.0.1 *.v4.test",  "::1 *.v6.test",
        "invalid *.null.test",  "0.0.0.0 ad?.[a-c]*.test",
        "10.0.0.1 (a|b)+\\.re", "2001:db8::1 [0-9]+\\.num",
        "192.0.2.1 *",
    };
    HostRules rules;
    for (const char *line : lines)
        parseHostsLine(rules, QString::fromLatin1(line));
    rules.setSyntax(syntax);
    return rules;
}

inline qsizetype encodedNameSize(const QByteArray &name)
{
    return name.isEmpty() ? 1 : name.size() + 2;
}

// A datagram and its reply against a small rule list, in both pattern syntaxes.
inline bool datagram(const QByteArray &input)
{
    static const HostRules wildcard = fixedRules(QRegExp::Wildcard);
    static const HostRules regExp = fixedRules(QRegExp::RegExp);
    for (const HostRules *rules : {&wildcard, &regExp}) {
        DnsMessage message(input);
        const QByteArray reply = message.buildReply(*rules);
        if (message.isDroppable()) {
            if (!reply.isEmpty() || input.size() >= Dns::headerSize)
                return false;
            continue;
        }
        if (reply.size() < Dns::headerSize || reply.left(2) != input.left(2) || !(reply.at(2) & 0x80) ||
            (reply.at(3) & 0xF) != message.header.RCODE)
            return false;
        const bool answered = message.header.RCODE == Dns::noError;
        if (answered != !message.answerText().isEmpty())
            return false;
        const qsizetype nameSize = encodedNameSize(message.question.QNAME);
        qsizetype expected = Dns::headerSize;
        if (answered)
            expected += nameSize + 4;
        if (message.header.ANCOUNT)
            expected += nameSize + 10 + message.answer.RDLENGTH;
        if (reply.size() != expected || (message.header.ANCOUNT && !answered))
            return false;
    }
    return true;
}

// The first line of the input as a hosts line, the rest as a query name. The parsed rule is checked
// against the plain reading of the grammar (cut at "#", simplify, split), then looked up in both
// syntaxes.
inline bool hostsLine(const QByteArray &input)
{
    const qsizetype lineEnd = input.indexOf('\n');
    const QString line = QString::fromUtf8(input.left(lineEnd < 0 ? input.size() : lineEnd));
    const QByteArray name = lineEnd < 0 ? QByteArray() : input.mid(lineEnd + 1);

    HostRules rules;
    parseHostsLine(rules, line);
    const QString simplified = line.left(line.indexOf(QLatin1Char('#'))).simplified();
    const QStringList fields = simplified.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const bool expectRule = simplified.contains(QLatin1Char('*')) && fields.size() >= 2;
    if (rules.size() != (expectRule ? 1 : 0))
        return false;
    if (expectRule) {
        const HostRule &rule = rules.at(0);
        if (rule.pattern.pattern() != fields.at(1) || rule.pattern.patternSyntax() != QRegExp::Wildcard ||
            rule.pattern.caseSensitivity() != Qt::CaseInsensitive ||
            rule.address != QHostAddress(fields.at(0)))
            return false;
    }

    for (QRegExp::PatternSyntax syntax : {QRegExp::Wildcard, QRegExp::RegExp}) {
        rules.setSyntax(syntax);
        quint16 rdlength = 0;
        QByteArray rdata;
        if (rules.findAnswer(name, rdlength, rdata)) {
            if (rdlength != rdata.size() || (rdlength != 4 && rdlength != 16))
                return false;
        } else if (rdlength != 0 || !rdata.isEmpty()) {
            return false;
        }
    }
    return true;
}

// Rules, edits and names from the input, each byte choosing what comes next. After the rules change
// one by one through the calls the rule table makes, so that the index follows each change, the
// first match of every name must be the first rule in list order whose own QRegExp matches it as a
// whole; a rule too costly to match (dns/PatternCost.h) matches nothing.
inline bool ruleLookup(const QByteArray &input)
{
    // Every wildcard shape, regular-expression syntax (a nested "{0,300}" is too costly; a name and
    // the names below it, "(.*\.)?"), and characters that lower inside Latin-1 (the Kelvin sign to
    // k) or outside it (the long s).
    static const char16_t *const pieces[] = {
        u"*",       u"?",  u"[a-c]", u"[!b]",     u"[]a]",   u"[^.]",     u"a",      u"b",
        u"A",       u"ab", u"ba.",   u".",        u"\\",     u"]",        u"(",      u")",
        u"|",       u"+",  u"{2}",   u"^",        u"$",      u"\\.",      u"\\w",    u"(?=a)",
        u"(?:",     u"k",  u"s",     u"\u00c9",   u"\u00e9", u"\u212a",   u"\u017f", u"\u0130",
        u"{0,300}", u"x",  u"[",     u"(.*\\.)?", u".*",     u"[0-9a-c]", u"[^.k]",
    };
    static const char *const nameParts[] = {"a", "A", "b", "ab", "BA.",  "i",    "k",   "K",
                                            "s", "S", "x", ".",  "\xc9", "\xe9", "\xff"};
    qsizetype at = 0;
    const auto next = [&] { return at < input.size() ? int(uchar(input.at(at++))) : 0; };
    const auto pattern = [&] {
        QString text;
        for (int count = next() % 7; count > 0; --count)
            text += QString::fromUtf16(pieces[next() % std::size(pieces)]);
        return text;
    };
    QRegExp::PatternSyntax syntax = QRegExp::Wildcard;
    HostRules rules;
    while (at < input.size()) {
        const int op = next();
        const int row = rules.size() ? next() % rules.size() : -1;
        if (op % 8 == 3) {
            rules.append(HostRule()); // the table's new row
        } else if (op % 8 == 4 && row >= 0) {
            HostRule rule;
            setPatternLazily(rule.pattern, pattern(), op & 16 ? QRegExp::FixedString : syntax, // a name
                             op & 8 ? Qt::CaseSensitive : Qt::CaseInsensitive);
            rules.replace(row, rule);
        } else if (op % 8 == 5 && row >= 0) {
            rules.removeAt(row);
        } else if (op % 8 == 6) {
            syntax = syntax == QRegExp::Wildcard ? QRegExp::RegExp : QRegExp::Wildcard;
            rules.setSyntax(syntax);
        } else if (op % 8 == 7) {
            QByteArray name;
            for (int count = next() % 12; count > 0; --count)
                name += nameParts[next() % std::size(nameParts)];
            int expected = -1;
            for (int i = 0; i < rules.size() && expected < 0; ++i) {
                // Not compiled until the match, and never when too costly.
                const HostRule rule = rules.at(i);
                if (isTractable(rule.pattern) && rule.pattern.exactMatch(QString::fromLatin1(name)))
                    expected = i;
            }
            if (rules.firstMatch(name) != expected)
                return false;
        } else {
            rules.appendWildcard(QHostAddress(), pattern()); // a line of the hosts file
        }
    }
    return true;
}

} // namespace FuzzTargets
