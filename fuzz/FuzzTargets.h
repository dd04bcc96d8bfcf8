#pragma once

#include "dns/DnsMessage.h"
#include "dns/HostRule.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

// The bodies of the fuzz targets, shared by the libFuzzer entry point and the unit test that replays
// the seed corpus in the ordinary build. Each returns false when an input breaks an invariant.
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

} // namespace FuzzTargets
