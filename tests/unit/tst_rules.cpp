#include "dns/HostRule.h"
#include "dns/NameTest.h"
#include "dns/PatternCost.h"
#include "tests/support/TestFiles.h"

#include <QtTest>

#include <random>

class TestRules : public QObject {
    Q_OBJECT

private slots:
    void loadLines_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file
        QTest::addColumn<QString>("rules");   // "address pattern" per rule, joined by "|"

        const auto row = [](const char *what, const QByteArray &file, const char *rules) {
            QTest::newRow(what) << file << QString::fromLatin1(rules);
        };
        row("no file", QByteArray(), "");
        row("blank, comment, plain and single-field lines: none",
            "\n \t\n# 1.1.1.1 *.a\n1.1.1.1 a.b c.d\n1.1.1.1 a.b #*.a\n*.a #1.1.1.1", "");
        row("comment cut off", "127.0.0.1 *.ads.test#x", "127.0.0.1 *.ads.test");
        row("blanks around fields, later fields ignored", " \t1.1.1.1 \t *.A.test. \t *.b.test \r",
            "1.1.1.1 *.A.test.");
        row("IPv6 and bad addresses (a star in one), in file order",
            "::1 *.a\r\n256.0.0.1 *.b\r\n::1 *.c\r\n1.2.3.* d", "::1 *.a|null *.b|::1 *.c|null d");
        row("UTF-16 with a byte-order mark", QByteArray("\xff\xfe:\0:\0\x31\0 \0*\0.\0a\0", 16), "::1 *.a");
        // Every line, as a served list: each name of a valid address; a wildcard line as above.
        row("every: names of valid addresses", "1.1.1.1 a.b C.d #e\n256.0.0.1 e.f\n::1 *.w x\nbad\n",
            "1.1.1.1 a.b|1.1.1.1 C.d|::1 *.w");
    }

    void loadLines()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, rules);

        ProgramFolder folder;
        const QString path = folder.path(QStringLiteral("hosts.txt"));
        QVERIFY(file.isNull() || writeWholeFile(path, file));
        HostRules loaded;
        loaded.appendWildcard(QHostAddress(), QStringLiteral("stale")); // replaced by the load
        if (QByteArray(QTest::currentDataTag()).startsWith("every")) {
            loaded.clear();
            QVERIFY(appendHostsRules(loaded, path, HostsLines::Every));
        } else {
            loadSystemHostsRules(loaded, path);
        }
        QStringList found;
        for (int at = 0; at < loaded.size(); ++at)
            found << (loaded.addressAt(at).isNull() ? "null" : loaded.addressAt(at).toString()) + ' ' +
                         loaded.patternAt(at);
        QCOMPARE(found.join('|'), rules);
    }

    void findAnswer_data()
    {
        QTest::addColumn<QStringList>("patterns"); // rule i answers 10.0.0.(i + 1)
        QTest::addColumn<bool>("regExp");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("rule"); // -1: none

        const auto row = [](const char *what, const QStringList &patterns, const QByteArray &name, int rule,
                            bool regExp = false) {
            QTest::newRow(what) << patterns << regExp << name << rule;
        };
        row("exact name", {"ads.test"}, "ads.test", 0);
        row("exact name: not a name below it", {"ads.test"}, "www.ads.test", -1);
        row("suffix: names at any depth", {"*.ads.test"}, "a.b.ads.test", 0);
        row("suffix: not the name itself", {"*.ads.test"}, "ads.test", -1);
        row("star inside: also for nothing", {"ad*.test"}, "ad.test", 0);
        row("question mark: one character", {"ad?.test"}, "ads.test", 0);
        row("question mark: not none", {"ad?.test"}, "ad.test", -1);
        row("set: a member", {"[ab].test"}, "b.test", 0);
        row("set: not a member", {"[ab].test"}, "c.test", -1);
        row("lone star: the root name", {"*"}, "", 0);
        row("name and pattern in other cases", {"*.ADS.test", "ads.test"}, "WWW.ads.TEST", 0);
        row("Latin-1 letters fold case", {QStringLiteral("caf\u00e9.test")}, "CAF\xc9.TEST", 0);
        row("two exact rules: the first", {"ads.test", "ads.test"}, "ads.test", 0);
        row("exact before unindexed", {"ads.test", "ad?.test"}, "ads.test", 0);
        row("later rule when the first fails", {"*.other", "ads.test"}, "ads.test", 1);
        row("regexp: the whole name", {"ads", ".*\\.ads\\..*"}, "x.ads.test", 1, true);
        row("regexp: alternation, case ignored", {"(ads|track)\\.test"}, "TRACK.test", 0, true);
        row("regexp: a wildcard text never matches", {"*.ads.test", ".*"}, "www.ads.test", 1, true);
        row("regexp: literal after an optional group", {"(.*\\.)?tok1\\.example"}, "A.TOK1.example", 0, true);
        row("regexp: the name itself of a name-and-below rule", {"ads", "^(?:.*\\.)?tok1\\.example$"},
            "tok1.example", 1, true);
        row("regexp: not a name that only ends in it", {"(.*\\.)?tok1\\.example", ".*"}, "xtok1.example", 1,
            true);
        row("regexp: anchored at both ends", {"^ads\\.test$", ".*"}, "ads.test", 0, true);
        row("regexp: not another literal", {"(.*\\.)?tok1\\.example", ".*"}, "tok2.example", 1, true);
        row("regexp: optional and coded characters", {"xy?z\\x0041b{2}", ".*"}, "xzabb", 0, true);
        row("a hosts line's name in regexp mode: itself", {"=A.b.test", ".*"}, "a.B.test", 0, true);
        row("a hosts line's name in regexp mode: a dot is a dot", {"=a.b.test", ".*"}, "axb.test", 1, true);
        QStringList compiled; // outside the automaton: each compiled, more than the cache holds
        for (int at = 0; at < 258; ++at)
            compiled << QStringLiteral(".*n%1\\d").arg(at);
        row("regexp: the 257th compiled pattern, not the first's", compiled, "n0xn2561", 256, true);
        row("star inside: its literal", {"*ads*.example", "*.example"}, "x.ads1.example", 0);
        // A pattern too costly to match in bounded time never matches; the next rule answers.
        row("costly: back-reference", {"(a*)\\1b", ".*"}, "aab", 1, true);
        row("costly: 250-way loop", {"(" + QString("a|").repeated(249) + "a)+", ".*"}, "a", 1, true);
        row("costly: nested counted repetitions", {"((a{0,100}){0,100}){0,100}", ".*"}, "a", 1, true);
        row("costly: a hundred stars", {QString(100, '*'), "*"}, "a", 1);
        row("not costly: nested loop", {"(a+)+$", ".*"}, "aaaa", 0, true);
        // Without a loop, only the states the same number of characters reach are active at once.
        QStringList names;
        for (int at = 0; names.join('|').size() < 2000; ++at)
            names << QStringLiteral("tracker%1\\.example").arg(at);
        row("not costly: 2,000-character alternation", {"^(" + names.join('|') + ")$", ".*"},
            "tracker42.example", 0, true);
        const QString twelves = (QString(12, 'a') + '|').repeated(150).chopped(1);
        row("costly: the like after a loop", {"(.*)(" + twelves + ")", ".*"}, "aaaaaaaaaaaa", 1, true);
        row("costly: groups 201 deep", {QString(201, '(') + 'a' + QString(201, ')'), ".*"}, "a", 1, true);
        row("costly: over 4,096 characters", {QString(4097, 'a'), "*"}, QByteArray(4097, 'a'), 1);
    }

    void findAnswer()
    {
        QFETCH(QStringList, patterns);
        QFETCH(bool, regExp);
        QFETCH(QByteArray, name);
        QFETCH(int, rule);

        HostRules rules;
        for (int at = 0; at < patterns.size(); ++at) {
            const QHostAddress address(0x0a000001u + quint32(at));
            if (patterns.at(at).startsWith('=')) // a name of a hosts line
                rules.appendName(address, patterns.at(at).mid(1));
            else
                rules.appendWildcard(address, patterns.at(at));
        }
        if (regExp)
            rules.setSyntax(QRegExp::RegExp);
        quint16 length = 0;
        QByteArray rdata;
        QCOMPARE(rules.findAnswer(name, length, rdata) ? rdata.toHex() : "none",
                 rule < 0 ? "none" : QByteArray::number(0x0a000001 + rule, 16).rightJustified(8, '0'));
        // The panel's test of a typed name gives the same rule and answer, where the name can be typed
        // as it is asked (printable ASCII, within a question's length).
        if (name.size() > PatternLimits::maxNameCharacters ||
            std::any_of(name.cbegin(), name.cend(), [](char c) { return c <= ' ' || c > '~'; }))
            return;
        const NameTest test = testName(rules, QString::fromLatin1(name));
        QCOMPARE(test.outcome, rule < 0 ? NameTest::PassedOn : NameTest::Answered);
        QCOMPARE(test.rule, rule);
        QCOMPARE(test.address, rule < 0 ? QString() : QHostAddress(0x0a000001u + quint32(rule)).toString());
    }

    void nameTest_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("a trailing dot, blanks") << " WWW.ads.test. "
                                                << "Answered with 10.0.0.2 by rule 2";
        QTest::newRow("international: asked in ACE")
            << QStringLiteral("b\u00fccher.test") << "Answered with ::";
        QTest::newRow("the root name") << "."
                                       << "Answered with 10.0.0.1 by rule 1";
        QTest::newRow("no rule") << "ads.example"
                                 << "No rule matches";
        QTest::newRow("an empty label") << "a..test"
                                        << "Not a name";
        QTest::newRow("a label of 256") << QString(256, 'a') << "Not a name";
        QTest::newRow("254 characters: too long")
            << (QString(63, 'a') + '.').repeated(3) + QString(62, 'a') << "Longer than 255 bytes";
        QTest::newRow("253 characters")
            << (QString(63, 'a') + '.').repeated(3) + QString(61, 'a') << "No rule matches";
        QTest::newRow("a long rule: its text cut")
            << 'x' + QString(200, 'b') + ".test"
            << "Answered with 10.0.0.4 by rule 4 \"*" + QString(119, 'b') + QChar(0x2026) +
                   "\", /a%2b/hosts, line 7";
    }
    void nameTest()
    {
        QFETCH(QString, typed);
        QFETCH(QString, verdict);
        HostRules rules;
        rules.append(HostRule{QHostAddress(0x0a000001u), QRegExp()});
        rules.appendName(QHostAddress(0x0a000002u), QStringLiteral("www.ads.test"));
        rules.appendWildcard(QHostAddress(), QStringLiteral("xn--bcher-kva.test"));
        rules.appendWildcard(QHostAddress(0x0a000004u), '*' + QString(200, 'b') + ".test");
        // A file name with a place marker of its own stays as it is.
        const QString described = describeNameTest(testName(rules, typed), rules, {"/a%2b/hosts", 7});
        QVERIFY2(described.startsWith(verdict), qPrintable(described));
    }

    // Random rule lists, edited between rounds as the rule table and the server edit them: the
    // index must give the rule that a plain first-match scan gives.
    void indexAgreesWithScan()
    {
        std::mt19937 engine(20240611); // the same sequence everywhere: every run checks the same cases
        const auto below = [&](int bound) { return int(engine() % unsigned(bound)); };
        // Letters of both cases, characters whose case changes across the Latin-1 border (Kelvin and
        // Angstrom signs, Y with diaeresis, micro sign, sharp s, dotted I), wildcard and
        // regular-expression characters (alternatives, quantifiers, classes), longer literals, an
        // empty piece. No piece starts with a digit: after a backslash it would make a back-reference.
        const QStringList pieces =
            QStringLiteral(
                "a A ads ADS . . k \u212a \u00e9 \u00c9 \u0178 \u00ff \u00b5 \u039c \u00df \u1e9e "
                "\u212b \u00e5 \u0130 * *. ? [ab] (a|b) + \\ [  | {2} \\d .example tok ads. track "
                "(ads\\.|track) (?:tok|\\.example) (track|(?=ads.)k)+ ) (?!ads.) \u00e9tok (.*\\.)? .* ^ $ "
                "[0-9a-c] [^.k] \\-")
                .split(' ');
        const auto randomPattern = [&] {
            QString pattern;
            for (int count = below(6); count > 0; --count)
                pattern += pieces.at(below(pieces.size()));
            return pattern;
        };
        // A name the pattern may well match: an alternative of each group, wildcards filled in, each
        // letter in a case of its own.
        const QRegularExpression group(QStringLiteral("\\((?:\\?[:=!])?([^()]*)\\)"));
        const auto nameLike = [&](QString pattern) {
            for (QRegularExpressionMatch found; (found = group.match(pattern)).hasMatch();) {
                const QStringList branches = found.captured(1).split('|');
                pattern.replace(found.capturedStart(), found.capturedLength(),
                                branches.at(below(branches.size())));
            }
            const QStringList branches = pattern.split('|');
            pattern = branches.at(below(branches.size()));
            QString name;
            for (const QChar c : pattern)
                name += below(2) ? c.toUpper() : c;
            return name.replace('?', 'q').replace('*', QString("x.y").left(below(4))).toLatin1();
        };
        HostRules rules;
        QRegExp::PatternSyntax syntax = QRegExp::Wildcard;
        int matched = 0;
        for (int round = 1; round <= 1000; ++round) {
            for (int query = 0; query < 40; ++query) {
                const QByteArray name = nameLike(
                    rules.size() && below(4) ? rules.patternAt(below(rules.size())) : randomPattern());
                int plain = 0;
                // A pattern too costly to match never matches.
                while (plain < rules.size() &&
                       !(isTractable(rules.at(plain).pattern) &&
                         rules.at(plain).pattern.exactMatch(QString::fromLatin1(name))))
                    ++plain;
                matched += plain < rules.size();
                QVERIFY2(rules.firstMatch(name) == (plain < rules.size() ? plain : -1),
                         name.toHex().constData());
            }
            for (int edit = below(6); edit >= 0; --edit) {
                const QRegExp pattern(randomPattern(), Qt::CaseSensitivity(below(4) == 0),
                                      below(8) ? syntax : QRegExp::FixedString); // a hosts line's name
                const int kind = below(12), at = rules.size() ? below(rules.size()) : -1;
                if (kind == 0)
                    rules.setSyntax(syntax = syntax == QRegExp::RegExp ? QRegExp::Wildcard : QRegExp::RegExp);
                else if (kind < 4 && at >= 0)
                    rules.removeAt(at);
                else if (kind < 6 && at >= 0)
                    rules.replace(at, HostRule{QHostAddress(), pattern});
                else
                    rules.append(HostRule{QHostAddress(), pattern});
            }
            if (round % 100 == 0)
                rules.clear();
        }
        QVERIFY(matched > 5000); // names hit rules often enough to test the order
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
