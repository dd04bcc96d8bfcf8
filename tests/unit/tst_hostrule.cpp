#include "dns/HostRule.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Rules built directly, not through the line parser: "address pattern", split at the first space.
HostRules makeRules(const QStringList &specs, QRegExp::PatternSyntax syntax)
{
    HostRules rules;
    for (const QString &spec : specs) {
        const qsizetype space = spec.indexOf(QLatin1Char(' '));
        rules.append(HostRule{QHostAddress(spec.left(space)),
                              QRegExp(spec.mid(space + 1), Qt::CaseInsensitive, syntax)});
    }
    return rules;
}

QStringList patternsOf(const HostRules &rules)
{
    QStringList patterns;
    for (int i = 0; i < rules.size(); ++i)
        patterns << rules.at(i).pattern.pattern();
    return patterns;
}

QStringList addressesOf(const HostRules &rules)
{
    QStringList addresses;
    for (int i = 0; i < rules.size(); ++i)
        addresses << rules.at(i).address.toString();
    return addresses;
}

// The answer to `name`, as hex, or "none".
QByteArray answerHex(const HostRules &rules, const QByteArray &name)
{
    quint16 rdlength = 0;
    QByteArray rdata;
    if (!rules.findAnswer(name, rdlength, rdata))
        return "none";
    if (rdlength != rdata.size())
        return "rdlength " + QByteArray::number(rdlength) + " for " + rdata.toHex();
    return rdata.toHex();
}

} // namespace

class TestHostRule : public QObject {
    Q_OBJECT

private slots:
    void parseLine_data();
    void parseLine();
    void parseAppendsAtTheEnd();
    void loadFile_data();
    void loadFile();
    void loadMissingFileEmptiesRules();
    void findAnswer_data();
    void findAnswer();
    void failedLookupLeavesOutputs();
    void newRuleMatchesOnlyRoot();
    void setSyntaxChangesEveryRule();
    void editsTakeEffect();
};

void TestHostRule::parseLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("yields");
    QTest::addColumn<QString>("address"); // toString(); empty for a null address
    QTest::addColumn<QString>("pattern");

    // No rule.
    QTest::newRow("empty line") << "" << false << ""
                                << "";
    QTest::newRow("blanks only") << " \t  " << false << ""
                                 << "";
    QTest::newRow("comment line") << "# 127.0.0.1 *.ads.test" << false << ""
                                  << "";
    QTest::newRow("plain host line") << "127.0.0.1 localhost" << false << ""
                                     << "";
    QTest::newRow("plain host with several names") << "127.0.0.1 ads.test www.ads.test" << false << ""
                                                   << "";
    QTest::newRow("star only after hash") << "127.0.0.1 ads.test # *.ads.test" << false << ""
                                          << "";
    QTest::newRow("hash cuts the star away") << "127.0.0.1 ads#*.test" << false << ""
                                             << "";
    QTest::newRow("hash in the address") << "127.0.0.1#x *.ads.test" << false << ""
                                         << "";
    QTest::newRow("one field: a wildcard name") << "*.ads.test" << false << ""
                                                << "";
    QTest::newRow("one field: lone star") << "*" << false << ""
                                          << "";
    QTest::newRow("one field with blanks around") << "\t *.ads.test \t" << false << ""
                                                  << "";
    QTest::newRow("one field before a comment") << "*.ads.test # 127.0.0.1 x" << false << ""
                                                << "";

    // Comments.
    QTest::newRow("trailing comment") << "127.0.0.1 *.ads.test # block ads" << true << "127.0.0.1"
                                      << "*.ads.test";
    QTest::newRow("comment without blank") << "127.0.0.1 *.ads.test#block" << true << "127.0.0.1"
                                           << "*.ads.test";
    QTest::newRow("hash inside the domain") << "127.0.0.1 *.ads#.test" << true << "127.0.0.1"
                                            << "*.ads";

    // Blanks between and around fields.
    QTest::newRow("single spaces") << "127.0.0.1 *.ads.test" << true << "127.0.0.1"
                                   << "*.ads.test";
    QTest::newRow("tab") << "127.0.0.1\t*.ads.test" << true << "127.0.0.1"
                         << "*.ads.test";
    QTest::newRow("run of spaces and tabs") << "127.0.0.1 \t  \t*.ads.test" << true << "127.0.0.1"
                                            << "*.ads.test";
    QTest::newRow("leading and trailing blanks") << "  \t127.0.0.1 *.ads.test \t " << true << "127.0.0.1"
                                                 << "*.ads.test";
    QTest::newRow("carriage return at the end") << "127.0.0.1 *.ads.test\r" << true << "127.0.0.1"
                                                << "*.ads.test";
    QTest::newRow("vertical tab and form feed") << "127.0.0.1\v\f*.ads.test" << true << "127.0.0.1"
                                                << "*.ads.test";
    QTest::newRow("no-break space") << QStringLiteral("127.0.0.1\u00a0*.ads.test") << true << "127.0.0.1"
                                    << "*.ads.test";
    QTest::newRow("ideographic space") << QStringLiteral("127.0.0.1\u3000*.ads.test") << true << "127.0.0.1"
                                       << "*.ads.test";

    // Where the star stands.
    QTest::newRow("star only in the address") << "1.2.3.* ads.test" << true << ""
                                              << "ads.test";
    QTest::newRow("star only in the third field") << "127.0.0.1 ads.test *.x" << true << "127.0.0.1"
                                                  << "ads.test";
    QTest::newRow("star in address, one field") << "1.2.3.*" << false << ""
                                                << "";

    // The domain is kept as written.
    QTest::newRow("several names: first only") << "127.0.0.1 *.a.test *.b.test" << true << "127.0.0.1"
                                               << "*.a.test";
    QTest::newRow("trailing dot kept") << "127.0.0.1 *.ads.test." << true << "127.0.0.1"
                                       << "*.ads.test.";
    QTest::newRow("case kept") << "127.0.0.1 *.ADS.Test" << true << "127.0.0.1"
                               << "*.ADS.Test";
    QTest::newRow("lone star domain") << "0.0.0.0 *" << true << "0.0.0.0"
                                      << "*";
    QTest::newRow("regexp text kept") << "127.0.0.1 (a|b)*\\.test" << true << "127.0.0.1"
                                      << "(a|b)*\\.test";

    // Addresses.
    QTest::newRow("IPv6 loopback") << "::1 *.ads.test" << true << "::1"
                                   << "*.ads.test";
    QTest::newRow("IPv6 full") << "2001:db8::ff00:42:8329 *.ads.test" << true << "2001:db8::ff00:42:8329"
                               << "*.ads.test";
    QTest::newRow("IPv4-mapped IPv6") << "::ffff:1.2.3.4 *.ads.test" << true << "::ffff:1.2.3.4"
                                      << "*.ads.test";
    QTest::newRow("invalid: octet over 255") << "256.0.0.1 *.ads.test" << true << ""
                                             << "*.ads.test";
    QTest::newRow("invalid: five numbers") << "1.2.3.4.5 *.ads.test" << true << ""
                                           << "*.ads.test";
    QTest::newRow("invalid: a host name") << "localhost *.ads.test" << true << ""
                                          << "*.ads.test";
    QTest::newRow("invalid: lone star") << "* *.ads.test" << true << ""
                                        << "*.ads.test";
    QTest::newRow("invalid: bad IPv6") << "::g *.ads.test" << true << ""
                                       << "*.ads.test";
}

void TestHostRule::parseLine()
{
    QFETCH(QString, line);
    QFETCH(bool, yields);
    QFETCH(QString, address);
    QFETCH(QString, pattern);

    HostRules rules;
    parseHostsLine(rules, line);
    QCOMPARE(rules.size(), yields ? 1 : 0);
    if (!yields)
        return;
    const HostRule &rule = rules.at(0);
    QCOMPARE(rule.address.toString(), address);
    QCOMPARE(rule.address.isNull(), address.isEmpty());
    QCOMPARE(rule.pattern.pattern(), pattern);
    QCOMPARE(rule.pattern.patternSyntax(), QRegExp::Wildcard);
    QCOMPARE(rule.pattern.caseSensitivity(), Qt::CaseInsensitive);
}

void TestHostRule::parseAppendsAtTheEnd()
{
    HostRules rules;
    parseHostsLine(rules, QStringLiteral("1.1.1.1 *.one.test"));
    parseHostsLine(rules, QStringLiteral("1.1.1.1 plain.test"));
    parseHostsLine(rules, QStringLiteral("2.2.2.2 *.two.test"));
    parseHostsLine(rules, QStringLiteral("1.1.1.1 *.one.test"));
    QCOMPARE(patternsOf(rules), QStringList({"*.one.test", "*.two.test", "*.one.test"}));
    QCOMPARE(addressesOf(rules), QStringList({"1.1.1.1", "2.2.2.2", "1.1.1.1"}));
}

void TestHostRule::loadFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QStringList>("patterns");

    const QString text = QStringLiteral("127.0.0.1 *.a.test\n::1 *.b.test\n");
    const QStringList addresses = {"127.0.0.1", "::1"};
    const QStringList patterns = {"*.a.test", "*.b.test"};
    auto encoded = [&](QStringConverter::Encoding encoding) {
        QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
        return QByteArray(encoder.encode(text));
    };

    QTest::newRow("empty file") << QByteArray() << QStringList() << QStringList();
    QTest::newRow("plain lines only")
        << QByteArray("127.0.0.1 localhost\n::1 localhost\n") << QStringList() << QStringList();
    QTest::newRow("file order kept, other lines passed over")
        << QByteArray("# wildcard lines\n"
                      "127.0.0.1 localhost\n"
                      "0.0.0.0\t*.z.test   # last letter first\n"
                      "\n"
                      "*.lonely.test\n"
                      "10.0.0.1 *.a.test *.ignored.test\n"
                      "10.0.0.2 *.z.test\n")
        << QStringList({"0.0.0.0", "10.0.0.1", "10.0.0.2"})
        << QStringList({"*.z.test", "*.a.test", "*.z.test"});
    QTest::newRow("LF line ends") << text.toLatin1() << addresses << patterns;
    QTest::newRow("CRLF line ends") << QByteArray("127.0.0.1 *.a.test\r\n::1 *.b.test\r\n") << addresses
                                    << patterns;
    QTest::newRow("no final line break")
        << QByteArray("127.0.0.1 *.a.test\n::1 *.b.test") << addresses << patterns;
    // A byte-order mark left in the text would spoil the first address.
    QTest::newRow("UTF-8 BOM") << encoded(QStringConverter::Utf8) << addresses << patterns;
    QTest::newRow("UTF-16 LE BOM") << encoded(QStringConverter::Utf16LE) << addresses << patterns;
    QTest::newRow("UTF-16 BE BOM") << encoded(QStringConverter::Utf16BE) << addresses << patterns;
}

void TestHostRule::loadFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, patterns);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    QCOMPARE(file.write(content), content.size());
    file.close();

    HostRules rules = makeRules({"9.9.9.9 *.stale.test"}, QRegExp::Wildcard);
    loadSystemHostsRules(rules, path);
    QCOMPARE(addressesOf(rules), addresses);
    QCOMPARE(patternsOf(rules), patterns);
}

void TestHostRule::loadMissingFileEmptiesRules()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    HostRules rules = makeRules({"9.9.9.9 *.stale.test"}, QRegExp::Wildcard);
    loadSystemHostsRules(rules, dir.filePath(QStringLiteral("absent")));
    QCOMPARE(rules.size(), 0);
}

void TestHostRule::findAnswer_data()
{
    QTest::addColumn<QStringList>("rules");
    QTest::addColumn<int>("syntax");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("answer"); // RDATA as hex, or "none"

    const int wildcard = QRegExp::Wildcard;
    const int regExp = QRegExp::RegExp;
    const QStringList v4 = {"127.0.0.1 *.ads.test"};

    // Wildcard syntax.
    QTest::newRow("star across dots")
        << v4 << wildcard << QByteArray("a.b.c.ads.test") << QByteArray("7f000001");
    QTest::newRow("star for one label")
        << v4 << wildcard << QByteArray("www.ads.test") << QByteArray("7f000001");
    QTest::newRow("star.x does not match x")
        << v4 << wildcard << QByteArray("ads.test") << QByteArray("none");
    QTest::newRow("star for no characters") << QStringList({"127.0.0.1 ads*.test"}) << wildcard
                                            << QByteArray("ads.test") << QByteArray("7f000001");
    QTest::newRow("part of a name does not count") << QStringList({"127.0.0.1 ads.test"}) << wildcard
                                                   << QByteArray("www.ads.test") << QByteArray("none");
    QTest::newRow("name longer than the pattern") << QStringList({"127.0.0.1 ads.test"}) << wildcard
                                                  << QByteArray("ads.test.evil") << QByteArray("none");
    QTest::newRow("exact name") << QStringList({"127.0.0.1 ads.test"}) << wildcard << QByteArray("ads.test")
                                << QByteArray("7f000001");
    QTest::newRow("upper-case pattern, lower-case name")
        << QStringList({"127.0.0.1 *.ADS.Test"}) << wildcard << QByteArray("www.ads.test")
        << QByteArray("7f000001");
    QTest::newRow("lower-case pattern, upper-case name")
        << v4 << wildcard << QByteArray("WWW.ADS.TEST") << QByteArray("7f000001");
    QTest::newRow("Latin-1 letters fold case")
        << QStringList({QStringLiteral("127.0.0.1 caf\u00e9.test")}) << wildcard << QByteArray("CAF\xc9.TEST")
        << QByteArray("7f000001");
    QTest::newRow("question mark: one character") << QStringList({"127.0.0.1 ad?.test"}) << wildcard
                                                  << QByteArray("ads.test") << QByteArray("7f000001");
    QTest::newRow("question mark: not zero characters")
        << QStringList({"127.0.0.1 ad?.test"}) << wildcard << QByteArray("ad.test") << QByteArray("none");
    QTest::newRow("set: member") << QStringList({"127.0.0.1 [ab].test"}) << wildcard << QByteArray("b.test")
                                 << QByteArray("7f000001");
    QTest::newRow("set: non-member") << QStringList({"127.0.0.1 [ab].test"}) << wildcard
                                     << QByteArray("c.test") << QByteArray("none");
    QTest::newRow("NUL byte in a name") << QStringList({"127.0.0.1 a?b.test"}) << wildcard
                                        << QByteArray("a\0b.test", 8) << QByteArray("7f000001");
    QTest::newRow("trailing dot never matches") << QStringList({"127.0.0.1 *.ads.test."}) << wildcard
                                                << QByteArray("www.ads.test") << QByteArray("none");
    QTest::newRow("lone star matches the root name")
        << QStringList({"127.0.0.1 *"}) << wildcard << QByteArray() << QByteArray("7f000001");
    QTest::newRow("lone star matches any name") << QStringList({"127.0.0.1 *"}) << wildcard
                                                << QByteArray("anything.at.all") << QByteArray("7f000001");
    QTest::newRow("star.x does not match the root name")
        << v4 << wildcard << QByteArray() << QByteArray("none");
    QTest::newRow("invalid wildcard never matches")
        << QStringList({"127.0.0.1 a["}) << wildcard << QByteArray("a[") << QByteArray("none");

    // Regular-expression syntax.
    QTest::newRow("regexp: whole name") << QStringList({"127.0.0.1 .*\\.ads\\..*"}) << regExp
                                        << QByteArray("x.ads.test") << QByteArray("7f000001");
    QTest::newRow("regexp: part of a name does not count")
        << QStringList({"127.0.0.1 ads"}) << regExp << QByteArray("xads") << QByteArray("none");
    QTest::newRow("regexp: ignores case") << QStringList({"127.0.0.1 ADS\\.TEST"}) << regExp
                                          << QByteArray("ads.test") << QByteArray("7f000001");
    QTest::newRow("regexp: dot is any character")
        << QStringList({"127.0.0.1 ads.test"}) << regExp << QByteArray("adsxtest") << QByteArray("7f000001");
    QTest::newRow("regexp: alternation") << QStringList({"127.0.0.1 (ads|track)\\.test"}) << regExp
                                         << QByteArray("track.test") << QByteArray("7f000001");
    QTest::newRow("regexp: wildcard text is invalid")
        << v4 << regExp << QByteArray("www.ads.test") << QByteArray("none");
    QTest::newRow("regexp: unbalanced parenthesis")
        << QStringList({"127.0.0.1 (ads"}) << regExp << QByteArray("(ads") << QByteArray("none");
    QTest::newRow("regexp: empty pattern matches the root name")
        << QStringList({"127.0.0.1 "}) << regExp << QByteArray() << QByteArray("7f000001");

    // First match wins.
    QTest::newRow("first of two matching rules")
        << QStringList({"1.1.1.1 *.test", "2.2.2.2 ads.test"}) << wildcard << QByteArray("ads.test")
        << QByteArray("01010101");
    QTest::newRow("same pattern twice: first")
        << QStringList({"1.1.1.1 ads.test", "2.2.2.2 ads.test"}) << wildcard << QByteArray("ads.test")
        << QByteArray("01010101");
    QTest::newRow("later rule when the first does not match")
        << QStringList({"1.1.1.1 *.other", "2.2.2.2 ads.test"}) << wildcard << QByteArray("ads.test")
        << QByteArray("02020202");
    QTest::newRow("lone star shadows later rules")
        << QStringList({"1.1.1.1 *", "2.2.2.2 ads.test"}) << wildcard << QByteArray("ads.test")
        << QByteArray("01010101");
    QTest::newRow("exact rule before a star rule")
        << QStringList({"2.2.2.2 ads.test", "1.1.1.1 *"}) << wildcard << QByteArray("ads.test")
        << QByteArray("02020202");
    QTest::newRow("invalid rule passed over") << QStringList({"1.1.1.1 (ads", "2.2.2.2 .*ads"}) << regExp
                                              << QByteArray("(ads") << QByteArray("02020202");
    QTest::newRow("empty list answers nothing")
        << QStringList() << wildcard << QByteArray("ads.test") << QByteArray("none");

    // Answer data by address.
    QTest::newRow("IPv4 in network order")
        << QStringList({"192.168.1.20 *"}) << wildcard << QByteArray("a") << QByteArray("c0a80114");
    QTest::newRow("IPv4 0.0.0.0: four zero bytes")
        << QStringList({"0.0.0.0 *"}) << wildcard << QByteArray("a") << QByteArray("00000000");
    QTest::newRow("IPv6 loopback") << QStringList({"::1 *"}) << wildcard << QByteArray("a")
                                   << QByteArray("00000000000000000000000000000001");
    QTest::newRow("IPv6 full") << QStringList({"2001:db8::ff00:42:8329 *"}) << wildcard << QByteArray("a")
                               << QByteArray("20010db8000000000000ff0000428329");
    QTest::newRow("IPv4-mapped IPv6: sixteen bytes")
        << QStringList({"::ffff:1.2.3.4 *"}) << wildcard << QByteArray("a")
        << QByteArray("00000000000000000000ffff01020304");
    QTest::newRow("null address: sixteen zero bytes")
        << QStringList({"invalid *"}) << wildcard << QByteArray("a")
        << QByteArray("00000000000000000000000000000000");
}

void TestHostRule::findAnswer()
{
    QFETCH(QStringList, rules);
    QFETCH(int, syntax);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, answer);

    QCOMPARE(answerHex(makeRules(rules, QRegExp::PatternSyntax(syntax)), name), answer);
}

void TestHostRule::failedLookupLeavesOutputs()
{
    const HostRules rules = makeRules({"127.0.0.1 *.ads.test"}, QRegExp::Wildcard);
    quint16 rdlength = 7;
    QByteArray rdata("kept");
    QVERIFY(!rules.findAnswer("ads.other", rdlength, rdata));
    QCOMPARE(rdlength, quint16(7));
    QCOMPARE(rdata, QByteArray("kept"));

    QVERIFY(rules.findAnswer("www.ads.test", rdlength, rdata));
    QCOMPARE(rdlength, quint16(4));
    QCOMPARE(rdata.toHex(), QByteArray("7f000001"));
}

void TestHostRule::newRuleMatchesOnlyRoot()
{
    HostRules rules;
    rules.append(HostRule());
    QCOMPARE(answerHex(rules, QByteArray()), QByteArray("00000000000000000000000000000000"));
    QCOMPARE(answerHex(rules, "a"), QByteArray("none"));
}

void TestHostRule::setSyntaxChangesEveryRule()
{
    HostRules rules =
        makeRules({"1.1.1.1 *.one.test", "2.2.2.2 two\\.TEST", "3.3.3.3 [*]"}, QRegExp::Wildcard);

    rules.setSyntax(QRegExp::RegExp);
    QCOMPARE(patternsOf(rules), QStringList({"*.one.test", "two\\.TEST", "[*]"}));
    for (int i = 0; i < rules.size(); ++i) {
        QCOMPARE(rules.at(i).pattern.patternSyntax(), QRegExp::RegExp);
        QCOMPARE(rules.at(i).pattern.caseSensitivity(), Qt::CaseInsensitive);
    }
    QCOMPARE(answerHex(rules, "www.one.test"), QByteArray("none"));
    QCOMPARE(answerHex(rules, "two.test"), QByteArray("02020202"));
    QCOMPARE(answerHex(rules, "*"), QByteArray("03030303"));

    rules.setSyntax(QRegExp::Wildcard);
    for (int i = 0; i < rules.size(); ++i)
        QCOMPARE(rules.at(i).pattern.patternSyntax(), QRegExp::Wildcard);
    QCOMPARE(answerHex(rules, "www.one.test"), QByteArray("01010101"));
    QCOMPARE(answerHex(rules, "two.test"), QByteArray("none"));
}

void TestHostRule::editsTakeEffect()
{
    HostRules rules = makeRules({"1.1.1.1 ads.test", "2.2.2.2 *.test", "3.3.3.3 *"}, QRegExp::Wildcard);

    rules.removeAt(0);
    QCOMPARE(answerHex(rules, "ads.test"), QByteArray("02020202"));

    HostRule edited = rules.at(0);
    edited.pattern.setPattern(QStringLiteral("*.other"));
    rules.replace(0, HostRule(edited));
    QCOMPARE(patternsOf(rules), QStringList({"*.other", "*"}));
    QCOMPARE(answerHex(rules, "ads.test"), QByteArray("03030303"));
    QCOMPARE(answerHex(rules, "x.other"), QByteArray("02020202"));

    edited.address.setAddress(QStringLiteral("::1"));
    rules.replace(0, HostRule(edited));
    QCOMPARE(answerHex(rules, "x.other"), QByteArray("00000000000000000000000000000001"));

    rules.append(HostRule{QHostAddress(QStringLiteral("4.4.4.4")),
                          QRegExp(QStringLiteral("late.test"), Qt::CaseInsensitive, QRegExp::Wildcard)});
    QCOMPARE(answerHex(rules, "late.test"), QByteArray("03030303"));

    rules.clear();
    QCOMPARE(rules.size(), 0);
    QCOMPARE(answerHex(rules, "ads.test"), QByteArray("none"));
}

QTEST_GUILESS_MAIN(TestHostRule)
#include "tst_hostrule.moc"
