#include "dns/HostRule.h"

#include "dns/PatternCost.h"
#include "dns/PatternMatcher.h"
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

// QHostAddress's == leaves the scope out.
bool sameAddress(const QHostAddress &a, const QHostAddress &b)
{
    return a.protocol() == b.protocol() && a == b && a.scopeId() == b.scopeId();
}

// The index of `address` in `table`, where consecutive rules of one address share the last entry.
quint32 shareLast(std::vector<QHostAddress> &table, const QHostAddress &address)
{
    if (table.empty() || !sameAddress(table.back(), address))
        table.push_back(address);
    return quint32(table.size() - 1);
}

} // namespace

HostRules::Rule HostRules::store(const QHostAddress &address, QStringView pattern)
{
    Rule rule{0, quint32(pattern.size()), storeAddress(address)};
    const bool narrow =
        std::all_of(pattern.cbegin(), pattern.cend(), [](QChar c) { return c.unicode() <= 0xff; });
    if (narrow && std::size_t(pattern.size()) <= TextArena::blockSize) {
        std::transform(pattern.cbegin(), pattern.cend(),
                       latin1.allocate(std::size_t(pattern.size()), rule.textAt),
                       [](QChar c) { return char(c.unicode()); });
    } else {
        rule.textAt = quint32(apart.size());
        rule.textSize |= apartText;
        apart.push_back(pattern.toString());
    }
    return rule;
}

quint32 HostRules::storeAddress(const QHostAddress &address)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol && address.toIPv4Address() < otherAddress)
        return address.toIPv4Address();
    return otherAddress + shareLast(others, address);
}

QString HostRules::textOf(const Rule &rule) const
{
    if (rule.textSize & apartText)
        return apart[rule.textAt];
    return QString::fromLatin1(latin1.at(rule.textAt), rule.textSize);
}

QRegExp HostRules::regExpAt(int index) const
{
    QRegExp made;
    const Form form = formAt(index);
    setPatternLazily(made, textOf(rules[std::size_t(index)]), form.syntax, form.caseSensitivity);
    return made;
}

HostRule HostRules::at(int index) const
{
    return HostRule{addressAt(index), regExpAt(index)};
}

QHostAddress HostRules::addressAt(int index) const
{
    const quint32 address = rules[std::size_t(index)].address;
    return address < otherAddress ? QHostAddress(address) : others[address - otherAddress];
}

QString HostRules::patternAt(int index) const
{
    return textOf(rules[std::size_t(index)]);
}

void HostRules::setForm(int index, Form form)
{
    if (forms.empty()) {
        if (form == common)
            return;
        forms.assign(rules.size(), code(common));
    }
    forms[std::size_t(index)] = code(form);
}

void HostRules::push(const QHostAddress &address, QStringView pattern, Form form)
{
    if (nextPosition == RuleIndex::none) {
        // Positions are spent by appends only; after four thousand million the rules are numbered
        // afresh.
        positions.clear();
        positions.shrink_to_fit();
        nextPosition = quint32(rules.size());
        rebuildIndex();
    }
    if (rules.empty())
        common = form;
    if (!positions.empty())
        positions.push_back(nextPosition);
    rules.push_back(store(address, pattern));
    if (!forms.empty())
        forms.push_back(code(common));
    setForm(size() - 1, form);
    ruleIndex.add(pattern, form.syntax, form.caseSensitivity, nextPosition++);
}

void HostRules::append(const HostRule &rule)
{
    push(rule.address, rule.pattern.pattern(),
         Form{rule.pattern.patternSyntax(), rule.pattern.caseSensitivity()});
}

void HostRules::appendWildcard(const QHostAddress &address, QStringView pattern)
{
    push(address, pattern, Form{QRegExp::Wildcard, Qt::CaseInsensitive});
}

void HostRules::appendName(const QHostAddress &address, QStringView name)
{
    push(address, name, Form{QRegExp::FixedString, Qt::CaseInsensitive});
}

void HostRules::unindex(int index)
{
    const Form form = formAt(index);
    ruleIndex.remove(textOf(rules[std::size_t(index)]), form.syntax, form.caseSensitivity, positionAt(index));
}

void HostRules::replace(int index, const HostRule &rule)
{
    unindex(index);
    const quint32 position = positionAt(index);
    if (!compiled.empty() && compiled[position % compiledEntries].position == position)
        compiled[position % compiledEntries].position = RuleIndex::none;
    const Form form{rule.pattern.patternSyntax(), rule.pattern.caseSensitivity()};
    const QString text = rule.pattern.pattern();
    const Rule old = rules[std::size_t(index)];
    rules[std::size_t(index)] = store(rule.address, text);
    setForm(index, form);
    ruleIndex.add(text, form.syntax, form.caseSensitivity, position);
    release(old);
}

void HostRules::removeAt(int index)
{
    unindex(index);
    if (positions.empty()) {
        positions.resize(rules.size());
        std::iota(positions.begin(), positions.end(), 0u);
    }
    const Rule old = rules[std::size_t(index)];
    rules.erase(rules.begin() + index);
    positions.erase(positions.begin() + index);
    if (!forms.empty())
        forms.erase(forms.begin() + index);
    // Without rules, positions start again where they are the indexes.
    if (rules.empty())
        clear();
    else
        release(old);
}

void HostRules::release(const Rule &rule)
{
    // Half the arena gone, or as many characters as texts apart: either way a pass for every other rule.
    garbage += rule.textSize & ~apartText;
    if (garbage > latin1.size() / 2 + apart.size())
        compact();
}

void HostRules::compact()
{
    TextArena keptLatin1;
    std::vector<QString> keptApart;
    std::vector<QHostAddress> keptOthers;
    for (Rule &rule : rules) {
        if (rule.textSize & apartText) {
            keptApart.push_back(std::move(apart[rule.textAt]));
            rule.textAt = quint32(keptApart.size() - 1);
        } else {
            const char *text = latin1.at(rule.textAt);
            std::copy(text, text + rule.textSize, keptLatin1.allocate(rule.textSize, rule.textAt));
        }
        if (rule.address >= otherAddress)
            rule.address = otherAddress + shareLast(keptOthers, others[rule.address - otherAddress]);
    }
    latin1 = std::move(keptLatin1);
    apart.swap(keptApart);
    others.swap(keptOthers);
    garbage = 0;
}

void HostRules::clear()
{
    *this = HostRules();
}

void HostRules::setSyntax(QRegExp::PatternSyntax syntax)
{
    // A start gives loaded rules the syntax they already have: the index then stays as it is.
    const auto follows = [syntax](Form form) {
        return form.syntax != syntax && form.syntax != QRegExp::FixedString;
    };
    bool changed = follows(common) && forms.empty() && !rules.empty();
    for (quint8 &form : forms) {
        if (follows(formOf(form))) {
            form = code(Form{syntax, formOf(form).caseSensitivity});
            changed = true;
        }
    }
    if (follows(common))
        common.syntax = syntax;
    if (!forms.empty() &&
        std::all_of(forms.cbegin(), forms.cend(), [&](quint8 form) { return form == forms.front(); })) {
        common = formOf(forms.front());
        forms.clear();
        forms.shrink_to_fit();
    }
    if (changed) {
        compiled.clear();
        rebuildIndex();
    }
}

void HostRules::rebuildIndex()
{
    ruleIndex.clear();
    for (int at = 0; at < size(); ++at) {
        const Form form = formAt(at);
        ruleIndex.add(textOf(rules[std::size_t(at)]), form.syntax, form.caseSensitivity, positionAt(at));
    }
}

int HostRules::indexOf(quint32 position) const
{
    // Until a rule is removed, positions are the indexes themselves.
    if (positions.empty())
        return int(position);
    return int(std::lower_bound(positions.cbegin(), positions.cend(), position) - positions.cbegin());
}

int HostRules::firstMatch(const QByteArray &name) const
{
    const quint32 found = ruleIndex.firstMatch(name, *this);
    return found == RuleIndex::none ? -1 : indexOf(found);
}

bool HostRules::matches(quint32 position, const QByteArray &name, std::string_view lowered) const
{
    const int index = indexOf(position);
    const Rule &rule = rules[std::size_t(index)];
    const Form form = formAt(index);
    PatternMatcher matcher;
    const quint32 size = rule.textSize & ~apartText;
    const bool read =
        form.caseSensitivity == Qt::CaseInsensitive &&
        (rule.textSize & apartText
             ? matcher.read(std::u16string_view(QStringView(apart[rule.textAt]).utf16(), size), form.syntax)
             : matcher.read(std::string_view(latin1.at(rule.textAt), size), form.syntax));
    if (read)
        return matcher.matches(lowered);
    if (compiled.empty())
        compiled.resize(compiledEntries);
    Compiled &entry = compiled[position % compiledEntries];
    if (entry.position != position) {
        entry.position = position;
        setPatternLazily(entry.pattern, textOf(rule), form.syntax, form.caseSensitivity);
    }
    return entry.pattern.exactMatch(QString::fromLatin1(name));
}

bool HostRules::findAnswer(const QByteArray &name, quint16 &rdlength, QByteArray &rdata) const
{
    const int found = firstMatch(name);
    if (found < 0)
        return false;
    const quint32 stored = rules[std::size_t(found)].address;
    const QHostAddress *other = stored < otherAddress ? nullptr : &others[stored - otherAddress];
    if (!other || other->protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 ip = other ? other->toIPv4Address() : stored;
        const char bytes[4] = {char(ip >> 24), char(ip >> 16), char(ip >> 8), char(ip)};
        rdata = QByteArray(bytes, sizeof bytes);
    } else {
        const Q_IPV6ADDR ip = other->toIPv6Address();
        rdata = QByteArray(reinterpret_cast<const char *>(ip.c), sizeof ip.c);
    }
    rdlength = quint16(rdata.size());
    return true;
}

namespace {

// The value of four decimal numbers up to 255 between dots, each without leading zeros, which
// QHostAddress reads alike, or notPlain for any other text. Generated lists give every line an
// address of its own, and QHostAddress takes about a microsecond to read one.
constexpr quint64 notPlain = ~quint64(0);
quint64 plainIPv4(QStringView text)
{
    quint64 ip = 0;
    qsizetype at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at == text.size() || text.at(at++) != QLatin1Char('.')))
            return notPlain;
        const qsizetype start = at;
        uint value = 0;
        while (at < text.size() && at - start < 3 && text.at(at) >= QLatin1Char('0') &&
               text.at(at) <= QLatin1Char('9'))
            value = value * 10 + uint(text.at(at++).unicode() - '0');
        if (at == start || value > 255 || (at - start > 1 && text.at(start) == QLatin1Char('0')))
            return notPlain;
        ip = ip << 8 | value;
    }
    return at == text.size() ? ip : notPlain;
}

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
        const quint64 ip = plainIPv4(field);
        if (ip != notPlain)
            address.setAddress(quint32(ip));
        else
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
        rules.appendWildcard(parsed, domain);
        return;
    }
    if (parsed.isNull())
        return; // the resolver skips such a line
    for (; !domain.isEmpty(); domain = nextField(text, from))
        rules.appendName(parsed, domain);
}

} // namespace

void parseHostsLine(HostRules &rules, const QString &line, HostsLines lines)
{
    LineParser(lines).parse(rules, line);
}

bool appendHostsRules(HostRules &rules, const QString &path, HostsLines lines, std::vector<quint32> *lineOf)
{
    QFile file(path);
    if (!openRegularFile(file, QIODevice::ReadOnly))
        return false;
    QTextStream stream(&file);
    // The local 8-bit encoding, not Qt 6's UTF-8 default; a byte-order mark still selects its own.
    stream.setEncoding(QStringConverter::System);
    LineParser parser(lines);
    QString line;
    for (quint32 number = 1; stream.readLineInto(&line); ++number) {
        const std::size_t before = std::size_t(rules.size());
        parser.parse(rules, line);
        if (lineOf)
            lineOf->insert(lineOf->end(), std::size_t(rules.size()) - before, number);
    }
    return true;
}

void loadSystemHostsRules(HostRules &rules, const QString &path, std::vector<quint32> *lineOf)
{
    rules.clear();
    appendHostsRules(rules, path, HostsLines::Wildcard, lineOf);
}
