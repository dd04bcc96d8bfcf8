#include "tests/support/Sandbox.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char sandboxMarker[] = "TARNOWLOCK_TEST_IN_SANDBOX";
constexpr int sandboxUnavailable = 77;

} // namespace

bool insideSandbox()
{
    return qEnvironmentVariable(sandboxMarker) == QLatin1String("1");
}

int runTestInSandbox(QObject &test, int argc, char **argv)
{
    if (insideSandbox())
        return QTest::qExec(&test, argc, argv);

    QTemporaryDir work;
    QProcess inner;
    inner.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(sandboxMarker), QStringLiteral("1"));
    inner.setProcessEnvironment(environment);
    QStringList arguments{work.path(), QCoreApplication::applicationFilePath()};
    arguments << QCoreApplication::arguments().mid(1);
    inner.start(QStringLiteral(TARNOWLOCK_SOURCE_DIR "/tests/support/sandbox.sh"), arguments);
    if (!inner.waitForFinished(-1) || inner.exitStatus() != QProcess::NormalExit)
        return 1;
    if (inner.exitCode() == sandboxUnavailable)
        return QTest::qExec(&test, argc, argv); // each test skips and says why
    return inner.exitCode();
}
