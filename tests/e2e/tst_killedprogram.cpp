// The real program killed with SIGKILL inside the namespace sandbox, at several moments of its start
// and while it serves with the machine's DNS pointed at it: the next run finds the roll-back file,
// and when that run stops /etc/resolv.conf is exactly what it was before the first.
#include "tests/support/DnsTestClient.h"
#include "tests/support/ProgramUnderTest.h"
#include "tests/support/Sandbox.h"
#include "tests/support/WholeFile.h"

#include <QApplication>
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
const QByteArray resolvConf = "# resolver of the test\nsearch example.internal\nnameserver 127.0.0.2\n"
                              "nameserver 127.0.0.3\noptions edns0\n";

} // namespace

class TestKilledProgram : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TARNOWLOCK_REQUIRE_SANDBOX(); }
    void killedThenRolledBack_data();
    void killedThenRolledBack();
};

void TestKilledProgram::killedThenRolledBack_data()
{
    QTest::addColumn<int>("killAfterMs"); // after the program claimed its single instance; -1: once it serves
    for (int ms : {0, 20, 50, 100, 200, 400})
        QTest::addRow("%d ms into the start", ms) << ms;
    QTest::newRow("while serving") << -1;
}

void TestKilledProgram::killedThenRolledBack()
{
    QFETCH(int, killAfterMs);
    QVERIFY(writeWholeFile(hostsPath, "127.0.0.1 localhost\n192.0.2.7 *.blocked.test\n"));
    QVERIFY(writeWholeFile(resolvConfPath, resolvConf));
    QTemporaryDir dir;
    const QString rollBack = dir.filePath(QStringLiteral("DNS"));

    {
        ProgramUnderTest killed(dir.path());
        QVERIFY(killed.start());
        if (killAfterMs < 0) {
            QCOMPARE(DnsTestClient().askUntilServed("www.blocked.test", dnsPort, replyWaitMs),
                     QStringLiteral("192.0.2.7"));
            QVERIFY(readWholeFile(resolvConfPath).contains("nameserver 127.0.0.1\n"));
        } else {
            QTest::qSleep(killAfterMs);
        }
        QVERIFY(killed.stop(SIGKILL));
    }
    // The change outlives the killed run exactly when its record does.
    const bool changed = readWholeFile(resolvConfPath) != resolvConf;
    QVERIFY(!changed || QFile::exists(rollBack));

    ProgramUnderTest next(dir.path());
    QVERIFY(next.start());
    QCOMPARE(DnsTestClient().askUntilServed("www.blocked.test", dnsPort, replyWaitMs),
             QStringLiteral("192.0.2.7"));
    QVERIFY(next.stop(SIGTERM));
    QCOMPARE(next.process().exitCode(), 0);
    QCOMPARE(readWholeFile(resolvConfPath), resolvConf);
    QVERIFY(!QFile::exists(rollBack));
    const QString log = next.logText();
    QVERIFY2(log.contains(QLatin1String(" : DNS rolled back!\n")), qPrintable(log));
    if (changed)
        QVERIFY2(log.contains(QLatin1String(" : Primary DNS's already 127.0.0.1\n")), qPrintable(log));
}

TARNOWLOCK_SANDBOXED_TEST_MAIN(TestKilledProgram)
#include "tst_killedprogram.moc"
