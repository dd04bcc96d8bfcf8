#include "tests/support/Sandbox.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

int runTestInSandbox(QObject &test, int argc, char **argv)
{
    if (qgetenv("TARNOWLOCK_TEST_IN_SANDBOX") == "1")
        return QTest::qExec(&test, argc, argv);

    QTemporaryDir work;
    QProcess inner;
    inner.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARNOWLOCK_TEST_IN_SANDBOX"), QStringLiteral("1"));
    inner.setProcessEnvironment(environment);
    inner.start(QStringLiteral(TARNOWLOCK_SOURCE_DIR "/tests/support/sandbox.sh"),
                QStringList{work.path(), QCoreApplication::applicationFilePath()} +
                    QCoreApplication::arguments().mid(1));
    if (!inner.waitForFinished(-1) || inner.exitStatus() != QProcess::NormalExit)
        return 1;
    if (inner.exitCode() == testSkipped)
        qWarning("skipped: needs the namespace sandbox (root, unshare and overlayfs)");
    return inner.exitCode();
}
