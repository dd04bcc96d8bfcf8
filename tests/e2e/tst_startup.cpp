#include "tests/support/ProgramUnderTest.h"
#include "tests/support/Sandbox.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TARNOWLOCK_REQUIRE_SANDBOX(); }

    void terminationSavesTheLog_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("SIGTERM") << int(SIGTERM) << QStringList{};
        QTest::newRow("SIGINT") << int(SIGINT) << QStringList{};
        QTest::newRow("SIGHUP") << int(SIGHUP) << QStringList{};
        QTest::newRow("SIGTERM, started hidden") << int(SIGTERM) << QStringList{"-silent"};
    }
    void terminationSavesTheLog()
    {
        QFETCH(int, signal);
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        ProgramUnderTest program(dir.path());
        QVERIFY2(program.start(arguments), qPrintable(program.process().readAllStandardError()));
        QVERIFY(program.stop(signal));
        QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process().exitCode(), 0);
        const QString log = program.logText();
        QVERIFY2(log.contains(QLatin1String(" : Launching Tarnowlock...\n")), qPrintable(log));
        QVERIFY2(log.contains(QLatin1String(" : Tarnowlock launched!\n")), qPrintable(log));
        QVERIFY(log.indexOf(QLatin1String("Launching")) < log.indexOf(QLatin1String("launched!")));
    }

    void secondStartHandsOver()
    {
        QTemporaryDir dir;
        ProgramUnderTest first(dir.path());
        QVERIFY(first.start());
        qint64 elapsed = 0;
        QCOMPARE(ProgramUnderTest::runAgain(dir.path(), {}, 20000, &elapsed), 0);
        QVERIFY2(elapsed < 6000, qPrintable(QString::number(elapsed)));
        QTest::qWait(200);
        QCOMPARE(first.process().state(), QProcess::Running);
        QVERIFY(first.stop(SIGTERM));
        QVERIFY(first.logText().contains(QLatin1String("Tarnowlock launched!")));
    }

    void startAfterAKilledRun()
    {
        QTemporaryDir dir;
        ProgramUnderTest killed(dir.path());
        QVERIFY(killed.start());
        QVERIFY(killed.stop(SIGKILL));
        ProgramUnderTest next(dir.path());
        QVERIFY2(next.start(), "a killed run must not block the next start");
        QTest::qWait(500);
        QCOMPARE(next.process().state(), QProcess::Running);
        QVERIFY(next.stop(SIGTERM));
    }
};

TARNOWLOCK_SANDBOXED_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
