#include "dns/NameTest.h"

#include "dns/DnsMessage.h"
#include "dns/HostRule.h"

#include <QUrl>

namespace {

constexpr qsizetype shownPatternCharacters = 120;

// The name as a resolver puts it in a question; false when no resolver could ask it.
bool askedName(const QString &typed, QByteArray &name)
{
    QString text = typed.trimmed();
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1); // the root's empty label; "." alone is the root name
    bool ascii = true;
    for (const QChar c : std::as_const(text))
        ascii = ascii && c.unicode() < 0x80;
    name = ascii ? text.toLatin1() : QUrl::toAce(text);
    if (name.isEmpty())
        return text.isEmpty();
    for (const QByteArray &label : name.split('.')) {
        if (label.isEmpty() || label.size() > Dns::maxLabelLength)
            return false;
    }
    return true;
}

} // namespace

NameTest testName(const HostRules &rules, const QString &typed)
{
    NameTest test;
    if (!askedName(typed, test.name))
        return test;
    QByteArray query(Dns::headerSize, '\0');
    query[5] = 1; // QDCOUNT
    DnsMessage::encodeName(test.name, query);
    query.append("\0\1\0\1", 4); // QTYPE A, QCLASS IN
    DnsMessage message(query);
    message.buildReply(rules);
    switch (message.header.RCODE) {
    case Dns::noError:
        test.outcome = NameTest::Answered;
        test.address = message.answerText();
        test.rule = rules.firstMatch(test.name);
        break;
    case Dns::serverFailure:
        test.outcome = NameTest::PassedOn;
        break;
    default:
        test.outcome = NameTest::TooLong;
    }
    return test;
}

QString describeNameTest(const NameTest &test, const HostRules &rules, const RuleOrigins::Origin &origin)
{
    switch (test.outcome) {
    case NameTest::NotAName:
        return QStringLiteral("Not a name a resolver could ask");
    case NameTest::TooLong:
        return QStringLiteral("Longer than %1 bytes: the server answers with a format error")
            .arg(Dns::maxNameLength);
    case NameTest::PassedOn:
        return QStringLiteral("No rule matches: the server passes it on (SERVFAIL)");
    case NameTest::Answered:
        break;
    }
    // One line of text: a rule of a whole 50 MB hosts line would take the panel's layout minutes.
    QString pattern = rules.patternAt(test.rule);
    if (pattern.size() > shownPatternCharacters)
        pattern = pattern.first(shownPatternCharacters) + QChar(0x2026); // an ellipsis
    const QString from = origin.file.isEmpty()
                             ? QStringLiteral("added in the table")
                             : QStringLiteral("%1, line %2").arg(origin.file, QString::number(origin.line));
    return QStringLiteral("Answered with %1 by rule %2 \"%3\", %4")
        .arg(test.address, QString::number(test.rule + 1), pattern, from);
}
