#include "app/SingleInstance.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

class TestSingleInstance : public QObject {
    Q_OBJECT

    const QString key = QStringLiteral("tst-single-%1").arg(QCoreApplication::applicationPid());

private slots:
    void oneInstanceAtATime()
    {
        QProcess killed;
        killed.start(QCoreApplication::applicationFilePath(), {"--child", key});
        QVERIFY(killed.waitForReadyRead(10000));
        QVERIFY(SingleInstance(key).isRunning());
        killed.kill(); // SIGKILL: its lock and its socket stay behind
        QVERIFY(killed.waitForFinished(10000));
        SingleInstance first(key);
        QVERIFY(!first.isRunning());
        QSignalSpy received(&first, &SingleInstance::messageReceived);
        QProcess second;
        second.start(QCoreApplication::applicationFilePath(), {"--child", key});
        QVERIFY(received.wait(10000));
        QCOMPARE(received.first().first().toString(), QStringLiteral("hello"));
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0); // it was told the message arrived
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // As a later instance: pass "hello" on to the running one, or claim and wait to be killed.
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0) {
        SingleInstance instance(QString::fromLatin1(argv[2]));
        if (instance.isRunning())
            return instance.sendMessage(QStringLiteral("hello"), 5000) ? 0 : 1;
        QTextStream(stdout) << "claimed" << Qt::endl;
        return QCoreApplication::exec();
    }
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
