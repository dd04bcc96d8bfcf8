#include "dns/HostRule.h"

#include <QFile>
#include <QStringView>
#include <QTextStream>

namespace {

// The next run of non-blank characters at or after `from`, or an empty view when none is left.
// Blanks are what QString::simplified() collapses, so the runs are the fields of the simplified line
// without building it.
QStringView nextField(QStringView text, qsizetype &from)
{
    while (from < text.size() && text.at(from).isSpace())
        ++from;
    const qsizetype start = from;
    while (from < text.size() && !text.at(from).isSpace())
        ++from;
    return text.sliced(start, from - start);
}

// QRegExp has a move assignment but no move constructor, and its copy compiles the pattern; so a
// rule enters the list by assignment into a slot, leaving the pattern to compile on first use.
void moveInto(HostRule &slot, HostRule &rule)
{
    slot.address = std::move(rule.address);
    slot.pattern = std::move(rule.pattern);
}

} // namespace

void HostRules::append(HostRule rule)
{
    moveInto(rules.emplaceBack(), rule);
}

void HostRules::replace(int index, HostRule rule)
{
    moveInto(rules[index], rule);
}

void HostRules::removeAt(int index)
{
    rules.removeAt(index);
}

void HostRules::clear()
{
    rules.clear();
}

void HostRules::setSyntax(QRegExp::PatternSyntax syntax)
{
    for (HostRule &rule : rules)
        rule.pattern.setPatternSyntax(syntax);
}

bool HostRules::findAnswer(const QByteArray &name, quint16 &rdlength, QByteArray &rdata) const
{
    const QString text = QString::fromLatin1(name);
    for (const HostRule &rule : rules) {
        if (!rule.pattern.exactMatch(text))
            continue;
        if (rule.address.protocol() == QAbstractSocket::IPv4Protocol) {
            const quint32 ip = rule.address.toIPv4Address();
            const char bytes[4] = {char(ip >> 24), char(ip >> 16), char(ip >> 8), char(ip)};
            rdata = QByteArray(bytes, sizeof bytes);
        } else {
            const Q_IPV6ADDR ip = rule.address.toIPv6Address();
            rdata = QByteArray(reinterpret_cast<const char *>(ip.c), sizeof ip.c);
        }
        rdlength = quint16(rdata.size());
        return true;
    }
    return false;
}

void parseHostsLine(HostRules &rules, const QString &line)
{
    QStringView text(line);
    const qsizetype comment = text.indexOf(QLatin1Char('#'));
    if (comment >= 0)
        text.truncate(comment);
    // Simplifying touches only blanks, so the "*" test holds for the simplified line as well.
    if (!text.contains(QLatin1Char('*')))
        return;

    qsizetype from = 0;
    const QStringView address = nextField(text, from);
    const QStringView domain = nextField(text, from);
    if (domain.isEmpty())
        return;

    HostRule rule;
    rule.address.setAddress(address.toString());
    rule.pattern = QRegExp(domain.toString(), Qt::CaseInsensitive, QRegExp::Wildcard);
    rules.append(std::move(rule));
}

void loadSystemHostsRules(HostRules &rules, const QString &path)
{
    rules.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QTextStream stream(&file);
    // The local 8-bit encoding, not Qt 6's UTF-8 default; a byte-order mark still selects its own.
    stream.setEncoding(QStringConverter::System);
    QString line;
    while (stream.readLineInto(&line))
        parseHostsLine(rules, line);
}
