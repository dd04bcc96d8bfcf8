#include "dns/HostRule.h"

#include "platform/FileReplace.h"

#include <QFile>
#include <QStringView>
#include <QTextStream>

#include <algorithm>
#include <numeric>

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
    indexLast();
}

void HostRules::appendWildcard(const QHostAddress &address, const QString &pattern)
{
    HostRule &rule = rules.emplaceBack();
    rule.address = address;
    // Set one by one, the pattern waits for its first match to compile; QRegExp's constructor would
    // compile it at once, at some 15 microseconds and 7 kB a rule.
    rule.pattern.setPatternSyntax(QRegExp::Wildcard);
    rule.pattern.setCaseSensitivity(Qt::CaseInsensitive);
    rule.pattern.setPattern(pattern);
    indexLast();
}

void HostRules::indexLast()
{
    if (nextPosition == RuleIndex::none) {
        // Positions are spent by appends only; after four thousand million the rules are numbered
        // afresh.
        std::iota(positions.begin(), positions.end(), 0u);
        nextPosition = quint32(positions.size());
        rebuildIndex();
    }
    positions.push_back(nextPosition);
    ruleIndex.add(rules.constLast().pattern, nextPosition++);
}

void HostRules::replace(int index, HostRule &&rule)
{
    ruleIndex.remove(rules.at(index).pattern, positions[index]);
    moveInto(rules[index], rule);
    ruleIndex.add(rules.at(index).pattern, positions[index]);
}

void HostRules::removeAt(int index)
{
    ruleIndex.remove(rules.at(index).pattern, positions[index]);
    rules.removeAt(index);
    positions.erase(positions.begin() + index);
}

void HostRules::clear()
{
    rules.clear();
    positions.clear();
    positions.shrink_to_fit();
    nextPosition = 0;
    ruleIndex.clear();
}

void HostRules::setSyntax(QRegExp::PatternSyntax syntax)
{
    // A start gives loaded rules the syntax they already have: the index then stays as it is.
    bool changed = false;
    for (HostRule &rule : rules) {
        if (rule.pattern.patternSyntax() != syntax) {
            rule.pattern.setPatternSyntax(syntax);
            changed = true;
        }
    }
    if (changed)
        rebuildIndex();
}

void HostRules::rebuildIndex()
{
    ruleIndex.clear();
    // Over `positions`: an append that renumbers comes here with its rule not yet positioned.
    for (std::size_t at = 0; at < positions.size(); ++at)
        ruleIndex.add(rules.at(qsizetype(at)).pattern, positions[at]);
}

int HostRules::indexOf(quint32 position) const
{
    // Until a rule is removed, positions are the indexes themselves.
    if (positions.size() == nextPosition)
        return int(position);
    return int(std::lower_bound(positions.cbegin(), positions.cend(), position) - positions.cbegin());
}

int HostRules::firstMatch(const QByteArray &name) const
{
    // The text is made only when a rule outside the index must be tested.
    QString text;
    bool haveText = false;
    const quint32 found = ruleIndex.firstMatch(name, [&](quint32 position) {
        if (!haveText) {
            text = QString::fromLatin1(name);
            haveText = true;
        }
        return rules.at(indexOf(position)).pattern.exactMatch(text);
    });
    return found == RuleIndex::none ? -1 : indexOf(found);
}

bool HostRules::findAnswer(const QByteArray &name, quint16 &rdlength, QByteArray &rdata) const
{
    const int found = firstMatch(name);
    if (found < 0)
        return false;
    const HostRule &rule = rules.at(found);
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

namespace {

// Reads hosts lines into rules. Lines of a file mostly share their address: its parse is kept for
// the next line, which then also shares its storage.
class LineParser {
public:
    void parse(HostRules &rules, const QString &line);

private:
    QString addressText;
    QHostAddress address;
};

void LineParser::parse(HostRules &rules, const QString &line)
{
    QStringView text(line);
    const qsizetype comment = text.indexOf(QLatin1Char('#'));
    if (comment >= 0)
        text.truncate(comment);
    // Simplifying touches only blanks, so the "*" test holds for the simplified line as well.
    if (!text.contains(QLatin1Char('*')))
        return;

    qsizetype from = 0;
    const QStringView addressField = nextField(text, from);
    const QStringView domain = nextField(text, from);
    if (domain.isEmpty())
        return;

    if (addressField != addressText) {
        addressText = addressField.toString();
        address.clear();
        address.setAddress(addressText);
    }
    rules.appendWildcard(address, domain.toString());
}

} // namespace

void parseHostsLine(HostRules &rules, const QString &line)
{
    LineParser().parse(rules, line);
}

void loadSystemHostsRules(HostRules &rules, const QString &path)
{
    rules.clear();
    QFile file(path);
    if (!openRegularFile(file, QIODevice::ReadOnly))
        return;
    QTextStream stream(&file);
    // The local 8-bit encoding, not Qt 6's UTF-8 default; a byte-order mark still selects its own.
    stream.setEncoding(QStringConverter::System);
    LineParser parser;
    QString line;
    while (stream.readLineInto(&line))
        parser.parse(rules, line);
}
