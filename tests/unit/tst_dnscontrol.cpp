#include "dns/DnsControl.h"

#include "platform/SystemConstants.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString settingLine = QStringLiteral("1 Setting primary DNS to 127.0.0.1...");
const QString setLine = QStringLiteral("2 Primary DNS set to 127.0.0.1");
const QString alreadyLine = QStringLiteral("2 Primary DNS's already 127.0.0.1");
const QString refusedLine = QStringLiteral("3 Can't set DNS! Please 'Run as administrator'");
const QString rollingLine = QStringLiteral("1 Rolling back DNS...");
const QString rolledLine = QStringLiteral("2 DNS rolled back!");
const QString notChangedLine = QStringLiteral("2 DNS has not been changed!");
const QString registered = QStringLiteral("registerDns");

QString interfaceKey(const QString &name)
{
    return tcpipInterfacesKey + QLatin1Char('\\') + name;
}

const QString ifA = interfaceKey(QStringLiteral("{A}"));
const QString ifB = interfaceKey(QStringLiteral("{B}"));
const QString ifC = interfaceKey(QStringLiteral("{C}"));
const QString ifD = interfaceKey(QStringLiteral("{D}"));

QByteArray recordOf(const QString &interfacePath, const QString &previous)
{
    return (interfacePath + QLatin1Char(' ') + previous + QLatin1Char('\n')).toUtf8();
}

QString write(const QString &interfacePath, const QString &servers)
{
    return interfacePath + QLatin1Char('=') + servers;
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    QCOMPARE(file.write(content), content.size());
}

} // namespace

class TestDnsControl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void addThenRollBack_data();
    void addThenRollBack();
    void interfacesHandledInOrder();
    void noInterfaceQualifies_data();
    void noInterfaceQualifies();
    void secondAddOnlyLogs();
    void rollBackWithoutFile();
    void refusedAtSecondOfThree();
    void rollBackFileOfKilledRun();
    void rollBackFileCannotBeCreated();
    void unrecordableInterfaceLeftAlone_data();
    void unrecordableInterfaceLeftAlone();
    void previousRestoredWhole_data();
    void previousRestoredWhole();
    void damagedRollBackFile_data();
    void damagedRollBackFile();
    void damagedLinesAmongGoodOnes();
    void changedByAnotherProgram_data();
    void changedByAnotherProgram();
    void flush_data();
    void flush();

private:
    // Forgets what was logged, written and called so far.
    void clearRecords();
    QString skipped(int line) const
    {
        return QStringLiteral("3 Skipped damaged line %1 of roll-back file '%2'")
            .arg(QString::number(line), rollBackPath);
    }
    QString nameServerOf(const QString &interfacePath) { return platform->store.nameServer(interfacePath); }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FakePlatform> platform;
    std::unique_ptr<RecordingLog> log;
    std::unique_ptr<DnsControl> control;
    QString rollBackPath;
};

void TestDnsControl::initTestCase()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    rollBackPath = dir->filePath(QStringLiteral("DNS"));
}

void TestDnsControl::init()
{
    QVERIFY(!QFile::exists(rollBackPath));
    platform = std::make_unique<FakePlatform>();
    log = std::make_unique<RecordingLog>();
    control = std::make_unique<DnsControl>(*platform, *log, rollBackPath);
}

void TestDnsControl::cleanup()
{
    control.reset();
    log.reset();
    platform.reset();
    QFile::remove(rollBackPath);
}

void TestDnsControl::clearRecords()
{
    log->lines.clear();
    platform->store.writes.clear();
    platform->calls.clear();
}

void TestDnsControl::addThenRollBack_data()
{
    QTest::addColumn<QString>("nameServer");
    QTest::addColumn<QString>("dhcpNameServer");
    QTest::addColumn<QString>("changed");     // NameServer after the change
    QTest::addColumn<QByteArray>("rollBack"); // the roll-back file after the change

    const QString absent = NameServerStore::absent;
    QTest::newRow("own servers") << "192.0.2.1,198.51.100.7" << absent << "127.0.0.1,192.0.2.1,198.51.100.7"
                                 << recordOf(ifA, QStringLiteral("192.0.2.1,198.51.100.7"));
    QTest::newRow("empty, DHCP servers blank-separated")
        << ""
        << "192.0.2.1 198.51.100.7"
        << "127.0.0.1,192.0.2.1,198.51.100.7" << recordOf(ifA, QString());
    QTest::newRow("empty, no DHCP value") << "" << absent << "127.0.0.1" << recordOf(ifA, QString());
    QTest::newRow("empty, DHCP empty text") << ""
                                            << ""
                                            << "127.0.0.1," << recordOf(ifA, QString());
    QTest::newRow("own servers win over DHCP")
        << "192.0.2.1"
        << "198.51.100.7"
        << "127.0.0.1,192.0.2.1" << recordOf(ifA, QStringLiteral("192.0.2.1"));
    QTest::newRow("previous with blanks")
        << "192.0.2.1 198.51.100.7 " << absent << "127.0.0.1,192.0.2.1 198.51.100.7 "
        << recordOf(ifA, QStringLiteral("192.0.2.1 198.51.100.7 "));
    QTest::newRow("local server further back")
        << "192.0.2.1,127.0.0.1" << absent << "127.0.0.1,192.0.2.1,127.0.0.1"
        << recordOf(ifA, QStringLiteral("192.0.2.1,127.0.0.1"));
    QTest::newRow("no NameServer value") << absent << "192.0.2.1" << absent << QByteArray();
    QTest::newRow("asterisk among servers") << "192.0.2.1,*" << absent << "192.0.2.1,*" << QByteArray();
    QTest::newRow("local server already first") << "127.0.0.1,192.0.2.1"
                                                << "198.51.100.7"
                                                << "127.0.0.1,192.0.2.1" << QByteArray();
    QTest::newRow("local server alone") << "127.0.0.1" << absent << "127.0.0.1" << QByteArray();
    QTest::newRow("begins with 127.0.0.1 as text") << "127.0.0.12" << absent << "127.0.0.12" << QByteArray();
}

void TestDnsControl::addThenRollBack()
{
    QFETCH(QString, nameServer);
    QFETCH(QString, dhcpNameServer);
    QFETCH(QString, changed);
    QFETCH(QByteArray, rollBack);
    platform->store.add(ifA, nameServer, dhcpNameServer);
    const bool recorded = !rollBack.isEmpty();

    control->addDNSServer();
    QCOMPARE(nameServerOf(ifA), changed);
    QCOMPARE(contentOf(rollBackPath), rollBack);
    QCOMPARE(log->lines, QStringList({settingLine, setLine}));
    QCOMPARE(platform->store.writes, recorded ? QStringList{write(ifA, changed)} : QStringList());
    QCOMPARE(platform->calls, QStringList{registered});

    clearRecords();
    control->delDNSServer();
    QCOMPARE(nameServerOf(ifA), nameServer);
    QVERIFY(!QFile::exists(rollBackPath));
    QCOMPARE(log->lines, QStringList({rollingLine, rolledLine}));
    QCOMPARE(platform->store.writes, recorded ? QStringList{write(ifA, nameServer)} : QStringList());
    QCOMPARE(platform->calls, QStringList{registered});
}

void TestDnsControl::interfacesHandledInOrder()
{
    platform->store.add(ifC, QStringLiteral(""), QStringLiteral("198.51.100.7"));
    platform->store.add(ifB, NameServerStore::absent, QStringLiteral("203.0.113.1"));
    platform->store.add(ifA, QStringLiteral("192.0.2.1"), NameServerStore::absent);
    platform->store.add(ifD, QStringLiteral("127.0.0.1,192.0.2.9"), NameServerStore::absent);

    control->addDNSServer();
    QCOMPARE(contentOf(rollBackPath), recordOf(ifC, QString()) + recordOf(ifA, QStringLiteral("192.0.2.1")));
    QCOMPARE(platform->store.writes, QStringList({write(ifC, QStringLiteral("127.0.0.1,198.51.100.7")),
                                                  write(ifA, QStringLiteral("127.0.0.1,192.0.2.1"))}));
    QCOMPARE(nameServerOf(ifB), NameServerStore::absent);
    QCOMPARE(nameServerOf(ifD), QStringLiteral("127.0.0.1,192.0.2.9"));

    clearRecords();
    control->delDNSServer();
    QCOMPARE(platform->store.writes,
             QStringList({write(ifC, QString()), write(ifA, QStringLiteral("192.0.2.1"))}));
    QCOMPARE(log->lines, QStringList({rollingLine, rolledLine}));
}

void TestDnsControl::noInterfaceQualifies_data()
{
    QTest::addColumn<bool>("withInterfaces");
    QTest::newRow("no interfaces") << false;
    QTest::newRow("none with own servers") << true;
}

void TestDnsControl::noInterfaceQualifies()
{
    QFETCH(bool, withInterfaces);
    if (withInterfaces) {
        platform->store.add(ifA, NameServerStore::absent, QStringLiteral("192.0.2.1"));
        platform->store.add(ifB, QStringLiteral("127.0.0.1"), NameServerStore::absent);
    }

    control->addDNSServer();
    QVERIFY(QFile::exists(rollBackPath));
    QCOMPARE(contentOf(rollBackPath), QByteArray());
    QCOMPARE(log->lines, QStringList({settingLine, setLine}));

    clearRecords();
    control->delDNSServer();
    QVERIFY(!QFile::exists(rollBackPath));
    QCOMPARE(log->lines, QStringList({rollingLine, rolledLine}));
    QVERIFY(platform->store.writes.isEmpty());
}

void TestDnsControl::secondAddOnlyLogs()
{
    platform->store.add(ifA, QStringLiteral("192.0.2.1"), NameServerStore::absent);
    control->addDNSServer();
    const QByteArray rollBack = contentOf(rollBackPath);

    clearRecords();
    control->addDNSServer();
    QCOMPARE(log->lines, QStringList({settingLine, alreadyLine}));
    QVERIFY(platform->store.writes.isEmpty());
    QVERIFY(platform->calls.isEmpty());
    QCOMPARE(contentOf(rollBackPath), rollBack);
    QCOMPARE(nameServerOf(ifA), QStringLiteral("127.0.0.1,192.0.2.1"));
}

void TestDnsControl::rollBackWithoutFile()
{
    platform->store.add(ifA, QStringLiteral("127.0.0.1,192.0.2.1"), NameServerStore::absent);
    control->delDNSServer();
    QCOMPARE(log->lines, QStringList({rollingLine, notChangedLine}));
    QVERIFY(platform->store.writes.isEmpty());
    QVERIFY(platform->calls.isEmpty());
    QVERIFY(!QFile::exists(rollBackPath));
}

void TestDnsControl::refusedAtSecondOfThree()
{
    platform->store.add(ifA, QStringLiteral("192.0.2.1"), NameServerStore::absent);
    platform->store.add(ifB, QStringLiteral("198.51.100.7"), NameServerStore::absent);
    platform->store.add(ifC, QStringLiteral(""), QStringLiteral("203.0.113.1"));
    platform->store.refused << ifB;

    control->addDNSServer();
    QCOMPARE(log->lines, QStringList({settingLine, refusedLine}));
    QCOMPARE(contentOf(rollBackPath),
             recordOf(ifA, QStringLiteral("192.0.2.1")) + recordOf(ifB, QStringLiteral("198.51.100.7")));
    QCOMPARE(platform->store.writes, QStringList({write(ifA, QStringLiteral("127.0.0.1,192.0.2.1")),
                                                  write(ifB, QStringLiteral("127.0.0.1,198.51.100.7"))}));
    QCOMPARE(nameServerOf(ifA), QStringLiteral("127.0.0.1,192.0.2.1"));
    QCOMPARE(nameServerOf(ifB), QStringLiteral("198.51.100.7"));
    QCOMPARE(nameServerOf(ifC), QStringLiteral(""));
    QVERIFY(platform->calls.isEmpty());

    clearRecords();
    control->addDNSServer();
    QCOMPARE(log->lines, QStringList({settingLine, alreadyLine}));

    clearRecords();
    control->delDNSServer();
    QCOMPARE(log->lines, QStringList({rollingLine, rolledLine}));
    QCOMPARE(platform->store.writes, QStringList{write(ifA, QStringLiteral("192.0.2.1"))});
    QCOMPARE(nameServerOf(ifA), QStringLiteral("192.0.2.1"));
    QCOMPARE(nameServerOf(ifB), QStringLiteral("198.51.100.7"));
    QCOMPARE(nameServerOf(ifC), QStringLiteral(""));
    QVERIFY(!QFile::exists(rollBackPath));
}

void TestDnsControl::rollBackFileOfKilledRun()
{
    platform->store.add(ifA, QStringLiteral("192.0.2.1"), NameServerStore::absent);
    platform->store.add(ifB, QStringLiteral(""), QStringLiteral("198.51.100.7"));
    control->addDNSServer();
    control.reset(); // the run ends without rolling back

    control = std::make_unique<DnsControl>(*platform, *log, rollBackPath);
    clearRecords();
    control->addDNSServer();
    QCOMPARE(log->lines, QStringList({settingLine, alreadyLine}));
    QVERIFY(platform->store.writes.isEmpty());

    clearRecords();
    control->delDNSServer();
    QCOMPARE(log->lines, QStringList({rollingLine, rolledLine}));
    QCOMPARE(nameServerOf(ifA), QStringLiteral("192.0.2.1"));
    QCOMPARE(nameServerOf(ifB), QStringLiteral(""));
    QVERIFY(!QFile::exists(rollBackPath));
}

void TestDnsControl::rollBackFileCannotBeCreated()
{
    platform->store.add(ifA, QStringLiteral("192.0.2.1"), NameServerStore::absent);
    const QString unreachable = dir->filePath(QStringLiteral("missing/DNS"));
    control = std::make_unique<DnsControl>(*platform, *log, unreachable);

    control->addDNSServer();
    QCOMPARE(
        log->lines,
        QStringList({settingLine,
                     QStringLiteral("3 Can't set DNS! Can't write roll-back file '%1'").arg(unreachable)}));
    QVERIFY(platform->store.writes.isEmpty());
    QVERIFY(platform->calls.isEmpty());
    QVERIFY(!QFile::exists(unreachable));

    clearRecords();
    control->delDNSServer();
    QCOMPARE(log->lines, QStringList({rollingLine, notChangedLine}));
}

void TestDnsControl::unrecordableInterfaceLeftAlone_data()
{
    QTest::addColumn<QString>("interfacePath");
    QTest::addColumn<QString>("nameServer");
    QTest::newRow("blank in the key path") << interfaceKey(QStringLiteral("{A B}")) << "192.0.2.1";
    QTest::newRow("line feed in the key path") << interfaceKey(QStringLiteral("{A\nB}")) << "192.0.2.1";
    QTest::newRow("line feed in NameServer") << ifB << "192.0.2.1\n" + ifC + " 203.0.113.66";
}

void TestDnsControl::unrecordableInterfaceLeftAlone()
{
    QFETCH(QString, interfacePath);
    QFETCH(QString, nameServer);
    platform->store.add(interfacePath, nameServer, NameServerStore::absent);
    platform->store.add(ifA, QStringLiteral("198.51.100.7"), NameServerStore::absent);

    control->addDNSServer();
    QCOMPARE(log->lines,
             QStringList({settingLine,
                          QStringLiteral(
                              "3 Left DNS of %1 unchanged: its servers can't be recorded for the roll back")
                              .arg(interfacePath),
                          setLine}));
    QCOMPARE(contentOf(rollBackPath), recordOf(ifA, QStringLiteral("198.51.100.7")));
    QCOMPARE(platform->store.writes, QStringList{write(ifA, QStringLiteral("127.0.0.1,198.51.100.7"))});

    clearRecords();
    control->delDNSServer();
    QCOMPARE(platform->store.writes, QStringList{write(ifA, QStringLiteral("198.51.100.7"))});
    QCOMPARE(nameServerOf(interfacePath), nameServer);
}

void TestDnsControl::previousRestoredWhole_data()
{
    QTest::addColumn<QString>("previous");
    QTest::newRow("blanks between servers") << "192.0.2.1 198.51.100.7 203.0.113.1";
    QTest::newRow("leading blank") << " 192.0.2.1";
    QTest::newRow("trailing blanks") << "192.0.2.1,198.51.100.7  ";
    QTest::newRow("blanks only") << "   ";
    QTest::newRow("empty") << "";
    QTest::newRow("carriage return kept") << "192.0.2.1\r";
}

void TestDnsControl::previousRestoredWhole()
{
    QFETCH(QString, previous);
    platform->store.add(ifA, QStringLiteral("127.0.0.1,192.0.2.1"), NameServerStore::absent);
    writeFile(rollBackPath, recordOf(ifA, previous));

    control->delDNSServer();
    QCOMPARE(platform->store.writes, QStringList{write(ifA, previous)});
    QCOMPARE(nameServerOf(ifA), previous);
    QCOMPARE(log->lines, QStringList({rollingLine, rolledLine}));
}

void TestDnsControl::damagedRollBackFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("notices");

    const QString noSuch = QStringLiteral("3 Can't roll back DNS of %1: no such interface");
    const QByteArray garbage("\x00\xff\xfe\x01 \x80\x81\n\x7f\xc3\n\xde\xad\xbe\xef", 15);

    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("key path without blank") << ifA.toUtf8() + '\n' << QStringList{skipped(1)};
    QTest::newRow("empty line") << QByteArray("\n") << QStringList{skipped(1)};
    QTest::newRow("record without line feed") << ifA.toUtf8() + " 192.0.2.1" << QStringList{skipped(1)};
    QTest::newRow("interface that does not exist")
        << recordOf(interfaceKey(QStringLiteral("{gone}")), "192.0.2.1")
        << QStringList{noSuch.arg(interfaceKey(QStringLiteral("{gone}")))};
    QTest::newRow("binary garbage") << garbage
                                    << QStringList({noSuch.arg(QString::fromUtf8(garbage.left(4))),
                                                    skipped(2), skipped(3)});
}

void TestDnsControl::damagedRollBackFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, notices);
    platform->store.add(ifA, QStringLiteral("127.0.0.1,192.0.2.1"), NameServerStore::absent);
    writeFile(rollBackPath, content);

    control->delDNSServer();
    QVERIFY(platform->store.writes.isEmpty());
    QCOMPARE(nameServerOf(ifA), QStringLiteral("127.0.0.1,192.0.2.1"));
    QStringList expected{rollingLine};
    for (const QString &notice : std::as_const(notices))
        expected << notice;
    expected << rolledLine;
    QCOMPARE(log->lines, expected);
    QCOMPARE(platform->calls, QStringList{registered});
    QVERIFY(!QFile::exists(rollBackPath));
}

void TestDnsControl::damagedLinesAmongGoodOnes()
{
    platform->store.add(ifA, QStringLiteral("127.0.0.1,192.0.2.1"), NameServerStore::absent);
    platform->store.add(ifB, QStringLiteral("127.0.0.1,198.51.100.7"), NameServerStore::absent);
    platform->store.add(ifC, QStringLiteral("127.0.0.1"), NameServerStore::absent);
    writeFile(rollBackPath, ifB.toUtf8() + "\n" + recordOf(ifA, QStringLiteral("192.0.2.1")) + "\n" +
                                recordOf(ifC, QString()) + ifB.toUtf8() + " 198.51");

    control->delDNSServer();
    QCOMPARE(platform->store.writes,
             QStringList({write(ifA, QStringLiteral("192.0.2.1")), write(ifC, QString())}));
    QCOMPARE(nameServerOf(ifB), QStringLiteral("127.0.0.1,198.51.100.7"));
    QCOMPARE(log->lines, QStringList({rollingLine, skipped(1), skipped(3), skipped(5), rolledLine}));
}

void TestDnsControl::changedByAnotherProgram_data()
{
    QTest::addColumn<QString>("current");  // NameServer as another program left it
    QTest::addColumn<QString>("restored"); // NameServer after the roll back
    QTest::addColumn<QString>("notice");   // the line between the two roll-back lines, if any

    const QString previous = QStringLiteral("192.0.2.1,198.51.100.7");
    const QString removed =
        QStringLiteral("2 DNS of %1 was changed by another program; removed only 127.0.0.1 from it");
    const QString left = QStringLiteral("2 DNS of %1 was changed by another program; left as it is");
    QTest::newRow("ours still first, rest changed") << "127.0.0.1,203.0.113.5" << previous << QString();
    QTest::newRow("ours first with blanks") << " 127.0.0.1 ,203.0.113.5" << previous << QString();
    QTest::newRow("ours last") << "203.0.113.5,127.0.0.1"
                               << "203.0.113.5" << removed.arg(ifA);
    QTest::newRow("ours in the middle") << "203.0.113.5,127.0.0.1,203.0.113.6"
                                        << "203.0.113.5,203.0.113.6" << removed.arg(ifA);
    QTest::newRow("ours twice, not first") << "203.0.113.5,127.0.0.1,127.0.0.1"
                                           << "203.0.113.5,127.0.0.1" << removed.arg(ifA);
    QTest::newRow("ours gone") << "203.0.113.5"
                               << "203.0.113.5" << left.arg(ifA);
    QTest::newRow("emptied") << ""
                             << "" << left.arg(ifA);
    QTest::newRow("value deleted") << NameServerStore::absent << NameServerStore::absent << left.arg(ifA);
    QTest::newRow("similar address first") << "127.0.0.10,203.0.113.5"
                                           << "127.0.0.10,203.0.113.5" << left.arg(ifA);
    QTest::newRow("already as recorded") << previous << previous << QString();
}

void TestDnsControl::changedByAnotherProgram()
{
    QFETCH(QString, current);
    QFETCH(QString, restored);
    QFETCH(QString, notice);
    platform->store.add(ifA, QStringLiteral("192.0.2.1,198.51.100.7"), NameServerStore::absent);
    control->addDNSServer();
    platform->store.values[ifA].nameServer = current;

    clearRecords();
    control->delDNSServer();
    QCOMPARE(nameServerOf(ifA), restored);
    QCOMPARE(platform->store.writes, restored == current ? QStringList() : QStringList{write(ifA, restored)});
    QStringList expected{rollingLine};
    if (!notice.isEmpty())
        expected << notice;
    expected << rolledLine;
    QCOMPARE(log->lines, expected);
    QVERIFY(!QFile::exists(rollBackPath));
}

void TestDnsControl::flush_data()
{
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("result");
    QTest::newRow("flushed") << true << "2 DNS cache flushed!";
    QTest::newRow("failed") << false << "3 Flushing DNS failed!";
}

void TestDnsControl::flush()
{
    QFETCH(bool, succeeds);
    QFETCH(QString, result);
    platform->flushSucceeds = succeeds;

    control->flushDNSCache();
    QCOMPARE(platform->calls, QStringList{QStringLiteral("flushDnsCache")});
    QCOMPARE(log->lines, QStringList({QStringLiteral("1 Flushing DNS cache..."), result}));
    QVERIFY(!QFile::exists(rollBackPath));
}

QTEST_GUILESS_MAIN(TestDnsControl)
#include "tst_dnscontrol.moc"
