#include "dns/HostRule.h"
#include "dns/RuleIndex.h"

#include <QtTest>

#include <map>
#include <set>

namespace {

// A fixed generator, so that every run checks the same cases and a failure repeats.
class Random {
public:
    explicit Random(quint64 seed) : state(seed) {}

    quint64 next()
    {
        // SplitMix64
        quint64 z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    int below(int bound) { return int(next() % quint64(bound)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T, std::size_t N> const T &pick(const T (&items)[N]) { return items[below(int(N))]; }

private:
    quint64 state;
};

// The rules' patterns, made once for many names.
QList<QRegExp> patternsOf(const HostRules &rules)
{
    QList<QRegExp> patterns;
    for (int at = 0; at < rules.size(); ++at)
        patterns << rules.at(at).pattern;
    return patterns;
}

// The first-match scan over every rule, as the rules themselves define matching.
int plainFirstMatch(QList<QRegExp> &patterns, const QByteArray &name)
{
    const QString text = QString::fromLatin1(name);
    for (int at = 0; at < patterns.size(); ++at) {
        if (patterns[at].exactMatch(text))
            return at;
    }
    return -1;
}

// Latin-1 characters with another case, characters that QRegExp may or may not fold into Latin-1
// (U+0178 lowers to ÿ, U+212A to k, U+212B to å, U+1E9E to ß, while U+039C and U+0130 lower to none),
// characters that are special in regular expressions but literal in wildcards, and bytes that
// names rarely hold. No digit: after a backslash it would make a back-reference, whose match in
// QRegExp depends on the match before.
const char16_t *const wordPool[] = {
    u"a",      u"A",      u"ab",     u"aB",     u"ads",    u"ADS",    u"xy",     u"k",      u"K",
    u"\u212a", u"\u00e9", u"\u00c9", u"\u00ff", u"\u0178", u"\u00b5", u"\u039c", u"\u00df", u"\u1e9e",
    u"\u00e5", u"\u00c5", u"\u212b", u"\u0130", u"i",      u"I",      u"\u00d7", u"\u00f7", u"-",
    u"(a)",    u"a+b",    u"^$",     u"{1}",    u"a|b",    u"",       u"\n",     u"\u00a0",
};
const char16_t *const wildcardPieces[] = {u"?",  u"[ab]", u"[^a]", u"[\u00e9\u00c9]", u"*",
                                          u"\\", u"[",    u"]",    u"[a-c]"};
const char16_t *const regExpPatterns[] = {
    u".*",    u"a.*", u"(ab|xy)\\.ads", u"[a-z]+", u"A\\.B", u"\u00c9.*", u".*\\.ads",
    u"*.ads", u"(",   u"ab?",           u"\\d+.*", u"",
};

QString word(Random &random)
{
    return QString::fromUtf16(random.pick(wordPool));
}

// Labels of words joined by dots.
QString dottedText(Random &random)
{
    QString text;
    const int labels = random.chance(5) ? 0 : 1 + random.below(3);
    for (int label = 0; label < labels; ++label) {
        if (label > 0)
            text += QLatin1Char('.');
        const int words = 1 + random.below(2);
        for (int at = 0; at < words; ++at)
            text += word(random);
    }
    return text;
}

QString randomPattern(Random &random)
{
    switch (random.below(12)) {
    case 0:
        return QStringLiteral("*");
    case 1:
        return QString();
    case 2:
    case 3:
    case 4:
        return dottedText(random); // an exact name
    case 5:
    case 6:
    case 7: {
        const QString dot = random.chance(70) ? QStringLiteral(".") : QString();
        return QLatin1Char('*') + dot + dottedText(random);
    }
    case 8:
        return QString::fromUtf16(random.pick(regExpPatterns));
    default: { // a wildcard outside the index: a piece somewhere in the text
        QString text = dottedText(random);
        const int at = random.below(int(text.size()) + 1);
        text.insert(at, QString::fromUtf16(random.pick(wildcardPieces)));
        return random.chance(30) ? QLatin1Char('*') + text : text;
    }
    }
}

HostRule randomRule(Random &random, QRegExp::PatternSyntax syntax, quint32 &serial)
{
    HostRule rule;
    if (random.chance(3))
        return rule; // as a new row of the rule table: case-sensitive, RegExp, empty
    rule.address = QHostAddress(++serial);
    rule.pattern.setPatternSyntax(syntax);
    rule.pattern.setCaseSensitivity(random.chance(3) ? Qt::CaseSensitive : Qt::CaseInsensitive);
    rule.pattern.setPattern(randomPattern(random));
    return rule;
}

// Latin-1 characters by their lower case, to spell a text in another case.
const std::map<char16_t, std::vector<char>> &latin1ByLower()
{
    static const std::map<char16_t, std::vector<char>> spellings = [] {
        std::map<char16_t, std::vector<char>> result;
        for (int byte = 0; byte < 256; ++byte)
            result[QChar(char16_t(byte)).toLower().unicode()].push_back(char(byte));
        return result;
    }();
    return spellings;
}

// A name that the pattern text may well match: wildcard pieces filled in, every character spelt in
// a case of its own, characters without a Latin-1 spelling replaced.
QByteArray nameLike(Random &random, const QString &pattern)
{
    QByteArray name;
    for (qsizetype at = 0; at < pattern.size(); ++at) {
        const QChar character = pattern.at(at);
        if (character == QLatin1Char('*')) {
            name += QByteArray("x.").left(random.below(3));
            continue;
        }
        if (character == QLatin1Char('?') || character == QLatin1Char('[') || random.chance(2)) {
            name += char(random.chance(50) ? 'a' : random.below(256));
            const qsizetype close = pattern.indexOf(QLatin1Char(']'), at);
            if (character == QLatin1Char('[') && close > at)
                at = close;
            continue;
        }
        const auto spelling = latin1ByLower().find(character.toLower().unicode());
        if (spelling == latin1ByLower().end())
            name += char(random.below(256));
        else
            name += spelling->second[std::size_t(random.below(int(spelling->second.size())))];
    }
    return name;
}

QByteArray randomName(Random &random, const HostRules &rules)
{
    if (random.chance(5))
        return QByteArray(); // the root name
    if (rules.size() > 0 && random.chance(70))
        return nameLike(random, rules.at(random.below(rules.size())).pattern.pattern());
    QByteArray name = nameLike(random, dottedText(random));
    if (random.chance(10)) {
        const int at = random.below(int(name.size()) + 1);
        name.insert(at, char(random.below(256)));
    }
    return name;
}

QString describe(const HostRules &rules, const QByteArray &name, int indexed, int plain)
{
    QStringList lines;
    for (int at = 0; at < rules.size(); ++at) {
        const QRegExp pattern = rules.at(at).pattern;
        lines << QStringLiteral("%1: \"%2\" syntax %3 case %4")
                     .arg(at)
                     .arg(pattern.pattern())
                     .arg(pattern.patternSyntax())
                     .arg(pattern.caseSensitivity());
    }
    return QStringLiteral("name %1: index says %2, scan says %3\n%4")
        .arg(QString::fromLatin1(name.toHex()))
        .arg(indexed)
        .arg(plain)
        .arg(lines.join(QLatin1Char('\n')));
}

} // namespace

class TestRuleIndex : public QObject {
    Q_OBJECT

private slots:
    void sameAsPlainScan();
    void caseOfEveryLatin1Character();
    void answerOfTheFirstMatch();
    void positionTableAgainstMap();
};

// Rule lists are built, queried, edited row by row, switched between the modes and queried again;
// every lookup through the index must give the rule that the plain scan gives.
void TestRuleIndex::sameAsPlainScan()
{
    Random random(20240611);
    quint32 serial = 0;
    qint64 pairs[2] = {0, 0}; // Wildcard, RegExp
    const qint64 wanted = 1000000;
    while (pairs[0] < wanted || pairs[1] < wanted) {
        HostRules rules;
        QRegExp::PatternSyntax syntax = random.chance(50) ? QRegExp::Wildcard : QRegExp::RegExp;
        const int size = random.chance(10) ? 100 + random.below(200) : random.below(24);
        for (int at = 0; at < size; ++at)
            rules.append(randomRule(random, syntax, serial));
        for (int round = 0; round < 8; ++round) {
            QList<QRegExp> patterns = patternsOf(rules);
            const int names = rules.size() > 60 ? 20 : 120;
            for (int query = 0; query < names; ++query) {
                const QByteArray name = randomName(random, rules);
                const int indexed = rules.firstMatch(name);
                const int plain = plainFirstMatch(patterns, name);
                if (indexed != plain)
                    QFAIL(qPrintable(describe(rules, name, indexed, plain)));
                ++pairs[syntax == QRegExp::Wildcard ? 0 : 1];
            }
            // An edit of the kinds the server and its rule table make.
            const int edits = 1 + random.below(rules.size() > 60 ? 40 : 4);
            for (int edit = 0; edit < edits; ++edit) {
                const int kind = random.below(20);
                if (kind == 0) {
                    syntax = syntax == QRegExp::Wildcard ? QRegExp::RegExp : QRegExp::Wildcard;
                    rules.setSyntax(syntax);
                } else if (kind == 1 && random.chance(20)) {
                    rules.clear();
                } else if (kind < 8 && rules.size() > 0) {
                    rules.removeAt(random.below(rules.size()));
                } else if (kind < 14 && rules.size() > 0) {
                    const int at = random.below(rules.size());
                    rules.replace(at, randomRule(random, syntax, serial));
                } else {
                    rules.append(randomRule(random, syntax, serial));
                }
            }
        }
    }
    qInfo("%lld wildcard and %lld regular expression pairs", pairs[0], pairs[1]);
}

// Every Latin-1 name character against every pattern character that could equal it ignoring case:
// the Latin-1 block and its neighbours, and every UTF-16 unit whose lower or upper case is Latin-1.
void TestRuleIndex::caseOfEveryLatin1Character()
{
    QList<char16_t> patternCharacters;
    for (char32_t unit = 0; unit <= 0xffff; ++unit) {
        const QChar character{char16_t(unit)};
        if (unit <= 0x2ff || character.toLower().unicode() <= 0xff || character.toUpper().unicode() <= 0xff ||
            character.toCaseFolded().unicode() <= 0xff)
            patternCharacters << char16_t(unit);
    }
    for (const char16_t unit : patternCharacters) {
        if (QStringLiteral("*?[]\\").contains(QChar(unit)))
            continue;
        // An exact name and a suffix, each with the character between two others.
        const QString patterns[] = {QStringLiteral("x%1y").arg(QChar(unit)),
                                    QStringLiteral("*.%1").arg(QChar(unit))};
        for (const QString &pattern : patterns) {
            HostRules rules;
            rules.append(HostRule{QHostAddress(), QRegExp(pattern, Qt::CaseInsensitive, QRegExp::Wildcard)});
            QList<QRegExp> plainPatterns = patternsOf(rules);
            for (int byte = 0; byte < 256; ++byte) {
                const QByteArray name = pattern.startsWith(QLatin1Char('x'))
                                            ? "x" + QByteArray(1, char(byte)) + "y"
                                            : "a." + QByteArray(1, char(byte));
                if (rules.firstMatch(name) != plainFirstMatch(plainPatterns, name))
                    QFAIL(
                        qPrintable(QStringLiteral("pattern \"%1\" (U+%2), name byte %3")
                                       .arg(pattern, QString::number(unit, 16), QString::number(byte, 16))));
            }
        }
    }
}

void TestRuleIndex::answerOfTheFirstMatch()
{
    HostRules rules;
    const auto add = [&rules](const char *address, const QString &pattern) {
        HostRule rule;
        rule.address = QHostAddress(QString::fromLatin1(address));
        rule.pattern = QRegExp(pattern, Qt::CaseInsensitive, QRegExp::Wildcard);
        rules.append(std::move(rule));
    };
    add("10.0.0.1", QStringLiteral("a?.test"));
    add("10.0.0.2", QStringLiteral("*.TEST"));
    add("10.0.0.3", QStringLiteral("ab.test"));
    add("::1", QStringLiteral("\u0178.test"));
    quint16 rdlength = 0;
    QByteArray rdata;
    QVERIFY(rules.findAnswer("AB.test", rdlength, rdata));
    QCOMPARE(rdata.toHex(), QByteArray("0a000001"));
    QVERIFY(rules.findAnswer("b.ab.test", rdlength, rdata));
    QCOMPARE(rdata.toHex(), QByteArray("0a000002"));
    QCOMPARE(rules.firstMatch("\xff.test"), 1); // "*.TEST" comes first
    rules.removeAt(1);
    QCOMPARE(rules.firstMatch("\xff.test"), 2);
    QCOMPARE(rules.firstMatch("\xff.TEST"), 2);
    QCOMPARE(rules.firstMatch("b.ab.test"), -1);
    QVERIFY(rules.findAnswer("\xff.test", rdlength, rdata));
    QCOMPARE(rdlength, quint16(16));
}

// The key table alone, under far more keys, collisions and erasures than the rule lists give.
void TestRuleIndex::positionTableAgainstMap()
{
    Random random(7);
    PositionTable table;
    std::map<std::string, std::set<quint32>> expected;
    quint32 next = 0;
    for (int step = 0; step < 300000; ++step) {
        // Few distinct keys at times, many at others: duplicates, growth and shrinking runs.
        const int spread = step % 100000 < 50000 ? 40 : 20000;
        const std::string key = std::to_string(random.below(spread));
        const quint64 hash = PositionTable::keyHash(key);
        auto &positions = expected[key];
        if (!positions.empty() && random.chance(45)) {
            auto victim = positions.begin();
            std::advance(victim, random.below(int(positions.size())));
            table.erase(key, hash, *victim);
            positions.erase(victim);
        } else {
            const quint32 position =
                random.chance(80) ? next++ : quint32(random.below(int(next) + 1)) * 2 + 1;
            if (positions.count(position))
                continue;
            table.insert(key, hash, position);
            positions.insert(position);
        }
        const std::string probe = std::to_string(random.below(spread));
        const auto found = expected.find(probe);
        const quint32 lowest =
            found == expected.end() || found->second.empty() ? PositionTable::none : *found->second.begin();
        QCOMPARE(table.lowest(probe, PositionTable::keyHash(probe)), lowest);
        QCOMPARE(table.lowest(key, hash), positions.empty() ? PositionTable::none : *positions.begin());
    }
}

QTEST_GUILESS_MAIN(TestRuleIndex)
#include "tst_ruleindex.moc"
