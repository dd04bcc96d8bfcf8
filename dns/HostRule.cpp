#include "dns/HostRule.h"

#include "dns/PatternCost.h"
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

} // namespace

HostRules::StoredRule HostRules::StoredRule::of(const HostRule &rule)
{
    return StoredRule{rule.address, rule.pattern.pattern(), rule.pattern.patternSyntax(),
                      rule.pattern.caseSensitivity()};
}

QRegExp HostRules::StoredRule::regExp() const
{
    QRegExp made;
    setPatternLazily(made, pattern, syntax, caseSensitivity);
    return made;
}

void HostRules::push(StoredRule &&rule)
{
    rules.push_back(std::move(rule));
    indexLast();
}

void HostRules::append(const HostRule &rule)
{
    push(StoredRule::of(rule));
}

void HostRules::appendWildcard(const QHostAddress &address, const QString &pattern)
{
    push(StoredRule{address, pattern, QRegExp::Wildcard, Qt::CaseInsensitive});
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
    ruleIndex.add(rules.back().regExp(), nextPosition++);
}

void HostRules::replace(int index, const HostRule &rule)
{
    StoredRule &stored = rules[std::size_t(index)];
    ruleIndex.remove(stored.regExp(), positions[std::size_t(index)]);
    stored = StoredRule::of(rule);
    ruleIndex.add(rule.pattern, positions[std::size_t(index)]);
}

void HostRules::removeAt(int index)
{
    ruleIndex.remove(rules[std::size_t(index)].regExp(), positions[std::size_t(index)]);
    rules.erase(rules.begin() + index);
    positions.erase(positions.begin() + index);
}

void HostRules::clear()
{
    rules.clear();
    rules.shrink_to_fit();
    positions.clear();
    positions.shrink_to_fit();
    nextPosition = 0;
    ruleIndex.clear();
}

void HostRules::setSyntax(QRegExp::PatternSyntax syntax)
{
    // A start gives loaded rules the syntax they already have: the index then stays as it is.
    bool changed = false;
    for (StoredRule &rule : rules) {
        if (rule.syntax != syntax) {
            rule.syntax = syntax;
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
        ruleIndex.add(rules[at].regExp(), positions[at]);
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
    const quint32 found = ruleIndex.firstMatch(name);
    return found == RuleIndex::none ? -1 : indexOf(found);
}

bool HostRules::findAnswer(const QByteArray &name, quint16 &rdlength, QByteArray &rdata) const
{
    const int found = firstMatch(name);
    if (found < 0)
        return false;
    const QHostAddress &address = addressAt(found);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 ip = address.toIPv4Address();
        const char bytes[4] = {char(ip >> 24), char(ip >> 16), char(ip >> 8), char(ip)};
        rdata = QByteArray(bytes, sizeof bytes);
    } else {
        const Q_IPV6ADDR ip = address.toIPv6Address();
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
    explicit LineParser(HostsLines lines) : lines(lines) {}
    void parse(HostRules &rules, const QString &line);

private:
    // The address of `field`, parsed once for a run of lines that share it.
    const QHostAddress &addressOf(QStringView field);

    HostsLines lines;
    QString addressText;
    QHostAddress address;
};

const QHostAddress &LineParser::addressOf(QStringView field)
{
    if (field != addressText) {
        addressText = field.toString();
        address.clear();
        address.setAddress(addressText);
    }
    return address;
}

void LineParser::parse(HostRules &rules, const QString &line)
{
    QStringView text(line);
    const qsizetype comment = text.indexOf(QLatin1Char('#'));
    if (comment >= 0)
        text.truncate(comment);
    // Simplifying touches only blanks, so the "*" test holds for the simplified line as well.
    const bool wildcard = text.contains(QLatin1Char('*'));
    if (!wildcard && lines == HostsLines::Wildcard)
        return;

    qsizetype from = 0;
    const QStringView addressField = nextField(text, from);
    QStringView domain = nextField(text, from);
    if (domain.isEmpty())
        return;
    const QHostAddress &parsed = addressOf(addressField);
    if (wildcard) {
        rules.appendWildcard(parsed, domain.toString());
        return;
    }
    if (parsed.isNull())
        return; // the resolver skips such a line
    for (; !domain.isEmpty(); domain = nextField(text, from))
        rules.appendWildcard(parsed, domain.toString());
}

} // namespace

void parseHostsLine(HostRules &rules, const QString &line, HostsLines lines)
{
    LineParser(lines).parse(rules, line);
}

bool appendHostsRules(HostRules &rules, const QString &path, HostsLines lines)
{
    QFile file(path);
    if (!openRegularFile(file, QIODevice::ReadOnly))
        return false;
    QTextStream stream(&file);
    // The local 8-bit encoding, not Qt 6's UTF-8 default; a byte-order mark still selects its own.
    stream.setEncoding(QStringConverter::System);
    LineParser parser(lines);
    QString line;
    while (stream.readLineInto(&line))
        parser.parse(rules, line);
    return true;
}

void loadSystemHostsRules(HostRules &rules, const QString &path)
{
    rules.clear();
    appendHostsRules(rules, path, HostsLines::Wildcard);
}
