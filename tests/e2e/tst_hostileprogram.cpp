// The real program, inside the namespace sandbox, on port 53: it listens on 127.0.0.1 alone, and
// hostile files beside it or in /etc leave it serving, quitting cleanly and putting resolv.conf back.
#include "settings/SettingsStore.h"
#include "tests/support/DnsTestClient.h"
#include "tests/support/ProgramUnderTest.h"
#include "tests/support/Sandbox.h"
#include "tests/support/SqlFile.h"
#include "tests/support/WholeFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

constexpr quint16 dnsPort = 53;
constexpr int replyWaitMs = 10000;

// Inside the sandbox these are the overlay's copies, never the machine's own files.
const QString hostsPath = QStringLiteral("/etc/hosts");
const QString resolvConfPath = QStringLiteral("/etc/resolv.conf");
const QByteArray resolvConf = "# resolver of the test\nnameserver 127.0.0.2\n";
const QByteArray plainHosts = "127.0.0.1 localhost\n192.0.2.7 *.blocked.test\n";

// The program's answer to an A query for `name` on 127.0.0.1:53, waiting until it serves.
QString askProgram(const QByteArray &name)
{
    return DnsTestClient().askUntilServed(name, dnsPort, replyWaitMs);
}

} // namespace

class TestHostileProgram : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TARNOWLOCK_REQUIRE_SANDBOX(); }
    void init();

    void listensOn127001Only();
    void hostileFiles_data();
    void hostileFiles();
};

void TestHostileProgram::init()
{
    QVERIFY(writeWholeFile(hostsPath, plainHosts));
    QVERIFY(writeWholeFile(resolvConfPath, resolvConf));
}

void TestHostileProgram::listensOn127001Only()
{
    QTemporaryDir dir;
    ProgramUnderTest program(dir.path());
    QVERIFY(program.start());
    QCOMPARE(askProgram("www.blocked.test"), QStringLiteral("192.0.2.7"));

    // Nothing answers on another loopback address...
    DnsTestClient client;
    const QHostAddress other(QStringLiteral("127.0.0.2"));
    client.send(dnsQuery(0x7777, wireName("www.blocked.test")), dnsPort, other);
    QCOMPARE(client.ask(dnsQuery(0x7778, wireName("www.blocked.test")), dnsPort, replyWaitMs),
             QStringLiteral("192.0.2.7"));
    client.waitForReplies(2, 300);
    QCOMPARE(client.replies.size(), 1);
    // ... and that address's port 53 is free for another program: the server holds 127.0.0.1 alone.
    QUdpSocket beside;
    QVERIFY2(beside.bind(other, dnsPort, QAbstractSocket::DontShareAddress),
             qPrintable(beside.errorString()));

    QVERIFY(program.stop(SIGTERM));
    QCOMPARE(program.process().exitCode(), 0);
}

void TestHostileProgram::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("settings"); // the settings file; empty for a fresh start
    QTest::addColumn<QString>("serverMode");  // stored in a sound settings file when not empty
    QTest::addColumn<QByteArray>("rollBack"); // the roll-back file DNS; empty for none
    QTest::addColumn<QByteArray>("hosts");    // /etc/hosts
    QTest::addColumn<QByteArray>("name");     // asked while the program runs
    QTest::addColumn<QString>("outcome");     // its answer
    QTest::addColumn<QString>("logLine");     // a line of the program's log file
    QTest::addColumn<bool>("dnsChanged");     // resolv.conf named 127.0.0.1 while it ran

    QByteArray garbage(2048, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 131 + 7) % 256);
    QByteArray costly = "192.0.2.3 (a";
    for (int i = 0; i < 249; ++i)
        costly += "|a";
    costly += ")+$ *\n192.0.2.4 ^a+$ *\n";

    QTest::newRow("settings: not a database")
        << QByteArray("not a database\n").repeated(50) << QString() << QByteArray() << plainHosts
        << QByteArray("www.blocked.test") << "192.0.2.7"
        << "Settings file 'settings' is damaged; using the built-in defaults" << true;
    QTest::newRow("roll-back file: binary garbage")
        << QByteArray() << QString() << garbage << plainHosts << QByteArray("www.blocked.test") << "192.0.2.7"
        << "Primary DNS's already 127.0.0.1" << false;
    QTest::newRow("roll-back file: an interface that does not exist")
        << QByteArray() << QString() << QByteArray("/etc/no-such-resolv.conf 192.0.2.1\n") << plainHosts
        << QByteArray("www.blocked.test") << "192.0.2.7"
        << "Can't roll back DNS of /etc/no-such-resolv.conf: no such interface" << false;
    QTest::newRow("hosts: a costly regular expression")
        << QByteArray() << "Regular Expression" << QByteArray() << costly << QByteArray(200, 'a')
        << "192.0.2.4"
        << "1 rule(s) will never match: pattern too long or too complex to match in bounded time" << true;
    QTest::newRow("hosts: NUL bytes and a 10 MB line")
        << QByteArray() << QString() << QByteArray()
        << QByteArray("0.0.0.0 *.nul\0led\n", 18) + QByteArray(10'000'000, 'x') + "\n" + plainHosts
        << QByteArray("www.blocked.test") << "192.0.2.7"
        << "2 rules in total. Server started!" << true;
}

void TestHostileProgram::hostileFiles()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, serverMode);
    QFETCH(QByteArray, rollBack);
    QFETCH(QByteArray, hosts);
    QFETCH(QByteArray, name);
    QFETCH(QString, outcome);
    QFETCH(QString, logLine);
    QFETCH(bool, dnsChanged);

    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("settings"));
    if (!settings.isEmpty())
        QVERIFY(writeWholeFile(settingsPath, settings));
    if (!serverMode.isEmpty()) {
        SettingsStore store(settingsPath, QString(), QString());
        QVERIFY(store.createDefaultSettings());
        QCOMPARE(runSql(settingsPath, {QStringLiteral("update General set Value = ? where Key = 'Server'")},
                        {{serverMode}}),
                 QString());
    }
    const QByteArray settingsBefore = readWholeFile(settingsPath);
    const QString rollBackPath = dir.filePath(QStringLiteral("DNS"));
    if (!rollBack.isEmpty())
        QVERIFY(writeWholeFile(rollBackPath, rollBack));
    QVERIFY(writeWholeFile(hostsPath, hosts));

    ProgramUnderTest program(dir.path());
    QVERIFY(program.start());
    QCOMPARE(askProgram(name), outcome);
    QCOMPARE(readWholeFile(resolvConfPath).contains("nameserver 127.0.0.1\n"), dnsChanged);
    QVERIFY(program.stop(SIGTERM));
    QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process().exitCode(), 0);

    const QString log = program.logText();
    QVERIFY2(log.contains(QStringLiteral(" : ") + logLine + QLatin1Char('\n')), qPrintable(log.left(4000)));
    QCOMPARE(readWholeFile(resolvConfPath), resolvConf);
    QVERIFY(!QFile::exists(rollBackPath));
    if (!settings.isEmpty() || !serverMode.isEmpty())
        QCOMPARE(readWholeFile(settingsPath), settingsBefore);
}

TARNOWLOCK_SANDBOXED_TEST_MAIN(TestHostileProgram)
#include "tst_hostileprogram.moc"
