#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <csignal>

namespace {

// As a child process this executable claims the key, says "claimed" or "running", and then
// either waits to be killed or sends its message.
int childMain(const QString &key, const QString &action)
{
    SingleInstance instance(key);
    if (!instance.isRunning()) {
        QTextStream(stdout) << "claimed" << Qt::endl;
        QObject::connect(&instance, &SingleInstance::messageReceived, [](const QString &message) {
            QTextStream(stdout) << "message " << message << Qt::endl;
        });
        return QCoreApplication::exec();
    }
    if (action == QLatin1String("send"))
        return instance.sendMessage(QStringLiteral("Vestrum"), 5000) ? 0 : 1;
    QTextStream(stdout) << "running" << Qt::endl;
    return 2;
}

QString uniqueKey()
{
    return QStringLiteral("tst-") + QUuid::createUuid().toString(QUuid::Id128);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

    QProcess *startChild(const QString &key, const QString &action)
    {
        auto *child = new QProcess(this);
        child->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), key, action});
        return child;
    }

    static QByteArray firstLine(QProcess *child)
    {
        while (!child->canReadLine())
            if (!child->waitForReadyRead(10000))
                return QByteArray();
        return child->readLine().trimmed();
    }

private slots:
    void firstClaimsSecondSeesIt()
    {
        const QString key = uniqueKey();
        SingleInstance first(key);
        QVERIFY(!first.isRunning());
        QVERIFY2(!first.isRunning(), "asking twice keeps the claim");
        QProcess *second = startChild(key, QStringLiteral("check"));
        QCOMPARE(firstLine(second), QByteArray("running"));
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 2);
    }

    void messageReachesTheRunningInstance()
    {
        const QString key = uniqueKey();
        SingleInstance first(key);
        QVERIFY(!first.isRunning());
        QSignalSpy received(&first, &SingleInstance::messageReceived);
        QProcess *second = startChild(key, QStringLiteral("send"));
        QVERIFY(received.wait(10000));
        QCOMPARE(received.first().first().toString(), QStringLiteral("Vestrum"));
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 0);
    }

    void staleClaimOfAKilledInstanceIsTakenOver()
    {
        const QString key = uniqueKey();
        QProcess *holder = startChild(key, QStringLiteral("hold"));
        QCOMPARE(firstLine(holder), QByteArray("claimed"));
        {
            SingleInstance meanwhile(key);
            QVERIFY(meanwhile.isRunning());
        }
        ::kill(pid_t(holder->processId()), SIGKILL);
        QVERIFY(holder->waitForFinished(10000));

        SingleInstance next(key);
        QVERIFY2(!next.isRunning(), "a lock left by a killed instance must not block the next start");
        QProcess *third = startChild(key, QStringLiteral("check"));
        QCOMPARE(firstLine(third), QByteArray("running"));
        QVERIFY(third->waitForFinished(10000));
    }

    void releaseLetsTheNextStartRun()
    {
        const QString key = uniqueKey();
        SingleInstance first(key);
        QVERIFY(!first.isRunning());
        first.release();
        QProcess *next = startChild(key, QStringLiteral("hold"));
        QCOMPARE(firstLine(next), QByteArray("claimed"));
        QVERIFY2(first.isRunning(), "after release the other process holds the claim");
        next->kill();
        QVERIFY(next->waitForFinished(10000));
    }

    void sendWithoutARunningInstanceFails()
    {
        const QString key = uniqueKey();
        QProcess *holder = startChild(key, QStringLiteral("hold"));
        QCOMPARE(firstLine(holder), QByteArray("claimed"));
        holder->kill();
        QVERIFY(holder->waitForFinished(10000));
        // The dead holder's lock is stale, so this claims it; a claimed instance sends nothing.
        SingleInstance instance(key);
        QVERIFY(!instance.sendMessage(QStringLiteral("Vestrum"), 500));
        QVERIFY(!instance.isRunning());
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 4 && arguments.at(1) == QLatin1String("--child"))
        return childMain(arguments.at(2), arguments.at(3));
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
