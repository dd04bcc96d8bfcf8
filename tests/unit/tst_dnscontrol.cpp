#include "dns/DnsControl.h"
#include "platform/ResolvConfStore.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/TestFiles.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

// The roll-back file ./DNS in a fresh program folder; the interfaces are eth0 and eth1.
struct Fixture {
    ProgramFolder folder;
    FakePlatform platform;
    RecordingLog log;
    DnsControl control{platform, log, QStringLiteral("DNS")};
    QStringList servers() { return {platform.store.nameServer("eth0"), platform.store.nameServer("eth1")}; }
};

class TestDnsControl : public QObject {
    Q_OBJECT

private slots:
    void setThenRollBack_data()
    {
        QTest::addColumn<QString>("row"); // eth0's servers|its DHCP servers|its servers once set ("*": none)
        QTest::newRow("own servers, not DHCP's") << "9.9.9.9,8.8.8.8|1.1.1.1|127.0.0.1,9.9.9.9,8.8.8.8";
        QTest::newRow("none, DHCP's blank-separated") << "|9.9.9.9 8.8.8.8|127.0.0.1,9.9.9.9,8.8.8.8";
        QTest::newRow("none, no DHCP") << "|*|127.0.0.1";
        QTest::newRow("blanks kept") << " 9.9.9.9 8.8.8.8 |*|127.0.0.1, 9.9.9.9 8.8.8.8 ";
        QTest::newRow("ours first: untouched") << "127.0.0.1,9.9.9.9|*|127.0.0.1,9.9.9.9";
        QTest::newRow("no value: untouched") << "*|9.9.9.9|*";
        QTest::newRow("line feed: untouched") << "9.9.9.9\neth1 1.1.1.1|*|9.9.9.9\neth1 1.1.1.1";
    }
    void setThenRollBack()
    {
        QFETCH(QString, row);
        const QStringList eth0 = row.split('|');
        Fixture f;
        f.platform.store.add("eth0", eth0[0], eth0[1]);
        f.platform.store.add("eth1", "8.8.4.4", NameServerStore::absent);
        f.control.addDNSServer();
        QCOMPARE(f.servers(), QStringList({eth0[2], "127.0.0.1,8.8.4.4"}));
        f.control.delDNSServer();
        QCOMPARE(f.servers(), QStringList({eth0[0], "8.8.4.4"}));
        f.control.addDNSServer(); // the roll-back file went with the roll back, so this works again
        QCOMPARE(f.servers(), QStringList({eth0[2], "127.0.0.1,8.8.4.4"}));
    }

    // A dual-stack interface: its IPv6 servers are pointed at ::1 and rolled back as the IPv4 ones;
    // a write that does not take keeps its line for a run with rights.
    void bothFamilies()
    {
        Fixture f;
        FakeNameServerStore &store = f.platform.store;
        store.add("Tcpip\\{A}", "192.0.2.53", NameServerStore::absent);
        store.add("Tcpip6\\{A}", "", "2001:db8::53 2001:db8::54");
        store.add("Tcpip6\\{B}", "::1,2001:db8::1", NameServerStore::absent); // ours already
        f.control.addDNSServer();
        QCOMPARE(store.nameServer("Tcpip6\\{A}"), "::1,2001:db8::53,2001:db8::54");
        QCOMPARE(store.nameServer("Tcpip\\{A}"), "127.0.0.1,192.0.2.53");
        QCOMPARE(store.nameServer("Tcpip6\\{B}"), "::1,2001:db8::1");
        store.values["Tcpip6\\{A}"].first = "2001:db8::99"; // another program's
        f.platform.nameServersChanged();
        QCOMPARE(store.nameServer("Tcpip6\\{A}"), "::1,2001:db8::99");
        store.refused = {"Tcpip6\\{A}"};
        QVERIFY(!f.control.delDNSServer());
        QCOMPARE(readWholeFile("DNS"), "Tcpip6\\{A} 2001:db8::99\n");
        store.refused.clear();
        QVERIFY(f.control.delDNSServer());
        QCOMPARE(QStringList({store.nameServer("Tcpip\\{A}"), store.nameServer("Tcpip6\\{A}"),
                              store.nameServer("Tcpip6\\{B}")}),
                 QStringList({"192.0.2.53", "2001:db8::99", "::1,2001:db8::1"}));
    }

    // A killed run's roll-back file, maybe cut short, with eth0 maybe changed by others since.
    void rollBackFileFound_data()
    {
        QTest::addColumn<QString>("row"); // file|eth0's servers as found|after the roll back|failures (regex)
        QTest::newRow("as it was left") << "eth0 9.9.9.9\n|127.0.0.1,9.9.9.9|9.9.9.9|^$";
        QTest::newRow("only ours goes") << "eth0 9.9.9.9\n|1.1.1.1,127.0.0.1,1.0.0.1|1.1.1.1,1.0.0.1|^$";
        QTest::newRow("ours gone: theirs stay") << "eth0 9.9.9.9\n|1.1.1.1|1.1.1.1|^$";
        QTest::newRow("record cut off") << "eth0 9.9.9.9|127.0.0.1|127.0.0.1|^.*damaged line 1 .*$";
        QTest::newRow("bad among good") << "eth0\n\neth0 9.9.9.9\n|127.0.0.1|9.9.9.9|line 1 .*\n.*line 2 ";
        QTest::newRow("unknown interface") << "eth7 9.9.9.9\n|127.0.0.1|127.0.0.1|eth7: no such interface$";
    }
    void rollBackFileFound()
    {
        QFETCH(QString, row);
        const QStringList value = row.split('|');
        Fixture f;
        QVERIFY(writeWholeFile("DNS", value[0].toUtf8()));
        f.platform.store.add("eth0", value[1], NameServerStore::absent);
        f.control.addDNSServer(); // a change may be in force: the record of what it replaced stays
        QVERIFY(f.platform.store.writes.isEmpty());
        QVERIFY(f.control.delDNSServer());
        QCOMPARE(f.servers().first(), value[2]);
        QVERIFY(!QFileInfo::exists("DNS"));
        const QString failed = f.log.lines.filter(QRegularExpression("^3 ")).join('\n');
        QVERIFY2(failed.contains(QRegularExpression(value[3])), qPrintable(failed));
    }

    // Only a missing record means no change: one that cannot be read fails, and stays.
    void rollBackUnreadableRecord()
    {
        Fixture f;
        QVERIFY(f.control.delDNSServer());
        QVERIFY(QDir().mkdir("DNS"));
        QVERIFY(!f.control.delDNSServer());
        QVERIFY(QFileInfo("DNS").isDir() && !f.log.lines.filter(QRegularExpression("^3 ")).isEmpty());
    }

    // Without rights (eth0's writes refused) a record whose servers did not take stays for a run with them.
    void rollBackRefused_data()
    {
        QTest::addColumn<QString>("row"); // file|eth0's servers as found|eth1's|eth0's in the end|file left
        QTest::newRow("refused: kept") << "eth0 9.9.9.9\n|127.0.0.1,9.9.9.9|8.8.4.4|9.9.9.9|eth0 9.9.9.9\n";
        QTest::newRow("only the refused line stays")
            << "eth1 8.8.4.4\neth0 9.9.9.9\n|127.0.0.1,9.9.9.9|127.0.0.1,8.8.4.4|9.9.9.9|eth0 9.9.9.9\n";
        QTest::newRow("ours among theirs: kept")
            << "eth0 9.9.9.9\n|1.1.1.1,127.0.0.1|8.8.4.4|1.1.1.1|eth0 9.9.9.9\n";
        QTest::newRow("damaged, gone interface: dropped")
            << "eth0\neth7 1.1.1.1\neth0 9.9.9.9\n|127.0.0.1,9.9.9.9|8.8.4.4|9.9.9.9|eth0 9.9.9.9\n";
        QTest::newRow("already back: goes") << "eth0 9.9.9.9\n|9.9.9.9|8.8.4.4|9.9.9.9|";
        QTest::newRow("set by another: goes") << "eth0 9.9.9.9\n|1.1.1.1|8.8.4.4|1.1.1.1|";
    }
    void rollBackRefused()
    {
        QFETCH(QString, row);
        const QStringList value = row.split('|');
        Fixture f;
        QVERIFY(writeWholeFile("DNS", value[0].toUtf8()));
        f.platform.store.add("eth0", value[1], NameServerStore::absent);
        f.platform.store.add("eth1", value[2], NameServerStore::absent);
        f.platform.store.refused = {"eth0"};
        const bool left = !value[4].isEmpty();
        QCOMPARE(f.control.delDNSServer(), !left);
        QCOMPARE(QString::fromUtf8(readWholeFile("DNS")), left ? value[4] : "<unreadable>");
        QCOMPARE(f.log.lines.filter("3 Can't roll back DNS of eth0! Please 'Run as administrator'").size(),
                 qsizetype(left));
        QCOMPARE(f.log.lines.contains("2 DNS rolled back!"), !left);
        f.platform.store.refused.clear(); // the next run has rights
        QVERIFY(f.control.delDNSServer());
        QVERIFY(!QFileInfo::exists("DNS"));
        QCOMPARE(f.servers(), QStringList({value[3], "8.8.4.4"}));
    }

    // 127.0.0.1 put first and taken away again: every other line kept, the very same bytes back.
    void resolvConfComesBackWhole_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("typical") << QByteArray("# by NM\nsearch lan\nnameserver 9.9.9.9\noptions edns0\n");
        QTest::newRow("comment, tab, no LF") << QByteArray("#\nnameserver\t1.1.1.1 #\n;\nnameserver 8.8.8.8");
        QTest::newRow("no servers") << QByteArray("search lan\noptions edns0\n");
        QTest::newRow("empty") << QByteArray();
    }
    void resolvConfComesBackWhole()
    {
        QFETCH(QByteArray, content);
        ProgramFolder folder;
        const QString path = QStringLiteral("resolv.conf"); // a link, as systemd-resolved makes it
        QVERIFY(writeWholeFile("stub", content) && QFile::link("stub", path));
        ResolvConfStore store(path);
        const QString before = store.nameServer(path);
        store.setNameServer(path, "127.0.0.1," + before);
        QVERIFY(store.nameServer(path).startsWith("127.0.0.1"));
        QCOMPARE(readWholeFile(path).replace("nameserver 127.0.0.1\n", ""), content);
        store.setNameServer(path, before);
        QCOMPARE(readWholeFile(path), content);
        QVERIFY(QFileInfo(path).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestDnsControl)
#include "tst_dnscontrol.moc"
