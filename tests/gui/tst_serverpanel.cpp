#include "dns/UI_ServerPanel.h"
#include "tests/support/DnsTestClient.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/TestFiles.h"

#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>

#include <sys/stat.h>

class TestServerPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    FakePlatform platform;
    RecordingLog log;
    std::unique_ptr<UI_ServerPanel> panel;
    quint16 port = 0;
    DnsTestClient client;
    QUdpSocket taken; // holds the server's port for a failed bind

    static void row(const char *name, const QStringList &cells, const QString &rule = QString())
    {
        QTestData &data = QTest::newRow(name);
        for (const QString &cell : cells)
            data << cell;
        data << rule;
    }
    // A server mode, a change of the hosts file, a reload, "add ADDRESS PATTERN" in the rule table,
    // "edit ADDRESS" of its last rule, "delete ROW", a query to 127.0.0.2, or the port taken before a start
    // (and freed).
    void perform(const QString &step)
    {
        const QString &file = platform.hostsFile;
        QAbstractItemModel &model = *panel->ruleTable()->model();
        if (step == "reload") {
            panel->loadHosts();
        } else if (step == "rewrite") {
            QVERIFY(writeWholeFile(file, "192.0.2.9 *.new.test\n192.0.2.10 (a|b)\\.renew\\.test *\n"));
        } else if (step == "remove" || step == "pipe") {
            QVERIFY(QFile::remove(file));
            QVERIFY(step == "remove" || mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
        } else if (step == "serve") { // a list that cannot be read, and one that can
            QVERIFY(writeWholeFile(dir->filePath("list"),
                                   "192.0.2.11 www.ad.test x.served.test\n192.0.2.12 y\n"));
            panel->setServedLists({dir->filePath("missing"), dir->filePath("list")});
        } else if (step == "ask 127.0.0.2") { // loopback keeps the order: its reply would come first
            client.send(dnsQuery(0x7002, wireName("www.ad.test")), port, QHostAddress("127.0.0.2"));
        } else if (step == "port taken") {
            QVERIFY(taken.bind(QHostAddress::LocalHost, port, QUdpSocket::DontShareAddress));
        } else if (step == "port freed") {
            taken.close();
        } else if (step.startsWith("add ")) {
            panel->insNewRule();
            model.setData(model.index(model.rowCount() - 1, 0), step.section(' ', 1, 1));
            model.setData(model.index(model.rowCount() - 1, 1), step.section(' ', 2));
        } else if (step.startsWith("delete ")) {
            panel->ruleTable()->selectRow(step.section(' ', 1).toInt());
            panel->delCurrentRow();
        } else if (step.startsWith("edit ")) {
            model.setData(model.index(model.rowCount() - 1, 0), step.section(' ', 1));
        } else {
            panel->setStatus(step);
        }
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        platform.hostsFile = dir->filePath("hosts");
        QVERIFY(writeWholeFile(platform.hostsFile, "192.0.2.7 *.ad.test\n192.0.2.8 (a|b)\\.re\\.test *\n"));
        log.lines.clear();
        client.replies.clear();
        taken.close();
        QUdpSocket probe; // a free port: the server never takes the machine's 53
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        port = probe.localPort();
        panel = std::make_unique<UI_ServerPanel>(log, platform, nullptr, port, dir->filePath("DNS"));
    }

    void answers_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("rule"); // that the test box names
        const QString w = "Wildcard", r = "Regular Expression", add = ",add 192.0.2.99 ";
        const QString first = "1 \"*.ad.test\", hosts, line 1",
                      second = "2 \"(a|b)\\.re\\.test\", hosts, line 2";
        row("wildcard: star rule", {w, "www.ad.test", "192.0.2.7"}, first);
        row("wildcard: regular expression literal", {w, "a.re.test", "servfail"});
        row("regexp: alternatives", {r, "b.re.test", "192.0.2.8"}, second);
        row("regexp: wildcard never matches", {r, "www.ad.test", "servfail"});
        row("only 127.0.0.1 answers", {w + ",ask 127.0.0.2", "www.ad.test", "192.0.2.7"}, first);
        row("switched to regexp", {w + "," + r, "a.re.test", "192.0.2.8"}, second);
        row("off: no reply", {w + ",Off", "www.ad.test", "no reply"});
        row("port taken: wildcard", {"port taken," + w, "www.ad.test", "no reply"});
        row("port taken: regexp", {"port taken," + r, "www.ad.test", "no reply"});
        row("port taken, then free: the next start",
            {"port taken," + w + ",port freed," + w, "www.ad.test", "192.0.2.7"}, first);
        row("reload: wildcard", {w + ",rewrite,reload", "x.new.test", "192.0.2.9"},
            "1 \"*.new.test\", hosts, line 1");
        row("reload: regexp", {r + ",rewrite,reload", "b.renew.test", "192.0.2.10"},
            "2 \"(a|b)\\.renew\\.test\", hosts, line 2");
        row("reload: removed file", {w + ",remove,reload", "www.ad.test", "servfail"});
        row("reload: named pipe", {w + ",pipe,reload", "www.ad.test", "servfail"});
        row("served: after the file's wildcard lines", {w + ",serve,reload", "www.ad.test", "192.0.2.7"},
            first);
        row("served: every name of a line", {w + ",serve,reload", "x.served.test", "192.0.2.11"},
            "4 \"x.served.test\", list, line 1");
        row("served: the file's rows deleted",
            {w + ",serve,reload,delete 0,delete 0", "www.ad.test", "192.0.2.11"},
            "1 \"www.ad.test\", list, line 1");
        row("served: the list's first row deleted", {r + ",serve,reload,delete 2", "b.re.test", "192.0.2.8"},
            second);
        const QString added = "3 \"*.added.test\", added in the table";
        row("added: wildcard", {w + add + "*.added.test", "y.added.test", "192.0.2.99"}, added);
        row("added: regexp", {r + add + "(x|y)\\.added\\.test", "y.added.test", "192.0.2.99"},
            "3 \"(x|y)\\.added\\.test\", added in the table");
        row("added: gone at reload", {w + add + "*.added.test,reload", "y.added.test", "servfail"});
        row("added: bad address, no A", {w + ",add 192.0.2.999 *.added.test", "y.added.test", "nodata"},
            added);
        row("edited: no address, null AAAA", {w + add + "*.added.test,edit foo", "AAAA y.added.test", "::"},
            added);
    }
    void answers()
    {
        QFETCH(QString, steps);
        QFETCH(QString, name);
        QFETCH(QString, outcome);
        QFETCH(QString, rule);
        panel->nameTestEdit()->setText(name.section(' ', -1)); // typed first: it follows every step
        for (const QString &step : steps.split(','))
            perform(step);
        const bool six = name.startsWith("AAAA ");
        const QByteArray asked = dnsQuery(1, wireName(name.section(' ', -1).toLatin1()), six ? 28 : 1);
        QCOMPARE(client.ask(asked, port, outcome == "no reply" ? 300 : 5000), outcome);
        QCOMPARE(client.replies.size(), int(outcome != "no reply"));
        // The test box: the server's answer, and the rule that decides it.
        const QString verdict = panel->nameTestVerdict()->text().replace(dir->path() + '/', "");
        if (outcome == "no reply")
            QCOMPARE(verdict, QString());
        else if (outcome == "servfail")
            QVERIFY2(verdict.startsWith("No rule matches"), qPrintable(verdict));
        else
            QCOMPARE(verdict, "Answered with " + (outcome == "nodata" ? "::" : outcome) + " by rule " + rule);
        const int bindFailures = log.lines.filter(QRegularExpression("^3 .*127.0.0.1:\\d")).size();
        QCOMPARE(bindFailures, int(steps.contains("taken"))); // reported as such, and only then
        QCOMPARE(log.lines.filter("missing! Its lines are not served").size(), int(steps.contains("serve")));
        // A start that cannot listen reports no server and leaves the machine's DNS alone.
        if (steps.startsWith("port taken")) {
            const bool freed = steps.contains("freed");
            QCOMPARE(log.lines.filter("Server started!").size(), int(freed));
            QCOMPARE(QFile::exists(dir->filePath("DNS")), freed);
            QCOMPARE(panel->isEnabled(), freed);
        }
    }

    void questionsLogged()
    {
        perform("Wildcard");
        log.lines.clear();
        QCOMPARE(client.ask(dnsQuery(1, wireName("www.ad.test")), port, 5000), QStringLiteral("192.0.2.7"));
        client.send("short", port); // no query: dropped, unanswered
        QCOMPARE(client.ask(dnsQuery(2, wireName("a\nb\x7f.test")), port, 5000), QStringLiteral("servfail"));
        QCOMPARE(client.replies.size(), 2);
        // Unanswered ones only for the Detailed log (which escapes the control bytes).
        QCOMPARE(log.lines, QStringList({"4 Question for www.ad.test", "5 Answered with 192.0.2.7",
                                         "3 (detailed) Dropped a datagram of 5 bytes from 127.0.0.1: too "
                                         "short for a DNS query",
                                         "4 (detailed) Question for a\nb\x7f.test"}));
        // The graph counts the answered and the passed on; a dropped datagram is neither.
        const QueryStats::Hour hour = panel->queryStats().lastHour();
        QCOMPARE(hour.totalAnswered + 10 * hour.totalPassed, 11u);
    }

    // More datagrams than one call reads, from two addresses, all waiting before the server reads:
    // each gets its own reply at its own sender, in order; a name longer than a page is read whole;
    // a datagram too short for a header is dropped and logged.
    void burst()
    {
        perform("Wildcard");
        panel->serverSocket()->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
        log.lines.clear();
        DnsTestClient other(QHostAddress("127.0.0.2"));
        QByteArray longName = "ad.test";
        for (int label = 0; label < 80; ++label)
            longName.prepend(QByteArray(63, char('a' + label % 26)) + '.');
        QList<QByteArray> sent[2];
        for (quint16 id = 0; id < 130; ++id) {
            const QByteArray query = dnsQuery(id, wireName(id == 100 ? longName : "n.ad.test"));
            const QByteArray datagram = id == 69 ? query.left(5) : query;
            (id % 3 ? client : other).send(datagram, port);
            if (id != 69)
                sent[id % 3 == 0] << query;
        }
        client.awaitReplies(sent[0].size(), 5000);
        other.awaitReplies(sent[1].size(), 5000);
        for (const DnsTestClient *at : {&client, &other}) {
            const QList<QByteArray> &asked = sent[at == &other];
            QCOMPARE(at->replies.size(), asked.size());
            for (int index = 0; index < asked.size(); ++index)
                QCOMPARE(dnsOutcome(at->replies[index], asked[index]),
                         asked[index].size() > 4096 ? "formerr" : "192.0.2.7");
        }
        QCOMPARE(log.lines.filter("Dropped").size(), 1);
        // The graph counts the answered alone: neither the dropped datagram nor the format error.
        QCOMPARE(panel->queryStats().lastHour().totalAnswered, 128u);
        QCOMPARE(panel->queryStats().lastHour().totalPassed, 0u);
        QCOMPARE(log.lines.filter("Dropped a datagram of 5 bytes from 127.0.0.2").size(), 1);
        QVERIFY(log.lines.contains("4 (detailed) Question for " + QString::fromLatin1(longName)));
    }

    // The graph's totals are the counts of a dnsperf run; its top names, with their case ignored, add up.
    void dnsperfCounted()
    {
        perform("Wildcard");
        QVERIFY(writeWholeFile(dir->filePath("names"), "a.ad.test A\nb.ad.test A\nA.AD.test A\nx.test A\n"));
        QProcess dnsperf;
        dnsperf.start("dnsperf", {"-s", "127.0.0.1", "-p", QString::number(port), "-d",
                                  dir->filePath("names"), "-n", "300", "-t", "2"});
        QTRY_VERIFY_WITH_TIMEOUT(dnsperf.state() == QProcess::NotRunning, 60000);
        const QString report = dnsperf.readAll();
        const auto count = [&](const char *code) {
            return QRegularExpression(code + QStringLiteral(" (\\d+)"))
                .match(report)
                .captured(1)
                .toULongLong();
        };
        const QueryStats::Hour hour = panel->queryStats().lastHour();
        QVERIFY2(count("NOERROR") > 600, qPrintable(report));
        QCOMPARE(hour.totalAnswered, count("NOERROR"));
        QCOMPARE(hour.totalPassed, count("SERVFAIL"));
        QCOMPARE(hour.top.size(), 2);
        QCOMPARE(hour.top[0].first, "a.ad.test");
        QCOMPARE(hour.top[0].second + hour.top[1].second, hour.totalAnswered);
        QVERIFY(hour.top[0].second > hour.top[1].second);
    }
};

QTEST_MAIN(TestServerPanel)
#include "tst_serverpanel.moc"
