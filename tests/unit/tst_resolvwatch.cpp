#include "dns/DnsControl.h"
#include "platform/LinuxPlatform.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/TestFiles.h"

#include <QTest>

#include <cstdio>

// Another program (NetworkManager, systemd-resolved) rewrites resolv.conf while the DNS points at us.
class TestResolvWatch : public QObject {
    Q_OBJECT

private slots:
    void rewriteIsUndone_data()
    {
        QTest::addColumn<bool>("link");        // resolv.conf a link to a stub in another folder
        QTest::addColumn<bool>("renameFirst"); // a new file renamed over the old one, then written in place
        QTest::addColumn<bool>("earlier");     // DNS pointed at us by an earlier run, whose record is left
        QTest::newRow("renamed over, then written in place") << false << true << false;
        QTest::newRow("written in place, then renamed over") << false << false << false;
        QTest::newRow("stub behind a link renamed over, then written in place") << true << true << false;
        QTest::newRow("stub behind a link written in place, then renamed over") << true << false << false;
        QTest::newRow("set by an earlier run") << false << true << true;
    }
    void rewriteIsUndone()
    {
        QFETCH(bool, link);
        QFETCH(bool, renameFirst);
        QFETCH(bool, earlier);
        ProgramFolder folder;
        LinuxPaths paths;
        paths.resolvConf = folder.path("etc/resolv.conf");
        const QString written = link ? folder.path("run/stub-resolv.conf") : paths.resolvConf;
        QVERIFY(writeWholeFile(written, "nameserver 9.9.9.9\n"));
        QVERIFY(!link || (QDir().mkpath(folder.path("etc")) && QFile::link(written, paths.resolvConf)));
        LinuxPlatform platform(paths);
        RecordingLog log;
        if (earlier)
            DnsControl(platform, log, "DNS").addDNSServer();
        DnsControl control(platform, log, "DNS");
        control.addDNSServer();
        bool rename = !renameFirst;
        const QList<std::pair<QByteArray, QString>> rewrites = {
            {"# NetworkManager\nsearch lan\nnameserver 192.0.2.1\n", "192.0.2.1"},
            {"nameserver 198.51.100.7\n\tnameserver  192.0.2.1\noptions edns0", "198.51.100.7,192.0.2.1"}};
        for (const auto &[theirs, servers] : rewrites) {
            QTest::qWait(400); // what the last undo wrote has settled, as between two real rewrites
            if ((rename = !rename))
                QVERIFY(writeWholeFile(written + ".new", theirs) &&
                        std::rename(qPrintable(written + ".new"), qPrintable(written)) == 0);
            else
                QVERIFY(writeWholeFile(written, theirs));
            QTRY_COMPARE_WITH_TIMEOUT(platform.nameServers().nameServer(paths.resolvConf),
                                      "127.0.0.1," + servers, 2000);
            QCOMPARE(readWholeFile(paths.resolvConf).replace("nameserver 127.0.0.1\n", ""), theirs);
            QCOMPARE(readWholeFile("DNS"), (paths.resolvConf + ' ' + servers + '\n').toUtf8());
        }
        QCOMPARE(log.lines.filter("was changed by another program; 127.0.0.1 put first again").size(), 2);
        control.delDNSServer();
        QCOMPARE(readWholeFile(paths.resolvConf), rewrites.last().first);
        QCOMPARE(QFileInfo(paths.resolvConf).isSymLink(), link);
        QVERIFY(writeWholeFile(written, rewrites.first().first)); // rolled back: theirs to keep
        QTest::qWait(500);
        QCOMPARE(readWholeFile(paths.resolvConf), rewrites.first().first);
    }

    void tugOfWarEnds_data()
    {
        QTest::addColumn<int>("takes"); // times another program takes 127.0.0.1 away within a minute
        QTest::newRow("five: each undone") << 5;
        QTest::newRow("six: given up at the sixth") << 6;
    }
    void tugOfWarEnds()
    {
        QFETCH(int, takes);
        ProgramFolder folder;
        FakePlatform platform;
        platform.store.add("eth0", "9.9.9.9", NameServerStore::absent);
        RecordingLog log;
        DnsControl control(platform, log, "DNS");
        control.addDNSServer();
        for (int i = 0; i < takes; ++i) {
            platform.store.values["eth0"].first = "1.1.1.1";
            platform.nameServersChanged();
        }
        const bool kept = takes <= 5;
        QCOMPARE(log.lines.filter("; 127.0.0.1 put first again").size(), qsizetype(5));
        QCOMPARE(log.lines.filter("3 Another program keeps changing the DNS").size(), qsizetype(!kept));
        QCOMPARE(bool(platform.nameServersChanged), kept);
        QCOMPARE(platform.store.nameServer("eth0"), kept ? "127.0.0.1,1.1.1.1" : "1.1.1.1");
        control.delDNSServer(); // gives back what the other program set
        QCOMPARE(platform.store.nameServer("eth0"), "1.1.1.1");
        QVERIFY(!platform.nameServersChanged);
    }

    void notOursNotWatched()
    {
        ProgramFolder folder;
        FakePlatform platform;
        platform.store.add("eth0", "9.9.9.9", NameServerStore::absent);
        platform.store.refused = {"eth0"};
        RecordingLog log;
        DnsControl control(platform, log, "DNS");
        control.addDNSServer(); // refused: the DNS was never pointed at us
        QVERIFY(!platform.nameServersChanged);
    }
};

QTEST_GUILESS_MAIN(TestResolvWatch)
#include "tst_resolvwatch.moc"
