#include "tests/support/ProgramUnderTest.h"

#include "app/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QThread>

#include <csignal>

namespace {

QString executableIn(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("tarnowlock"));
}

void prepare(QProcess &process, const QString &folder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
}

} // namespace

ProgramUnderTest::ProgramUnderTest(const QString &folder) : dir(folder)
{
    QDir(folder).mkpath(QStringLiteral("log"));
    QFile::remove(executableIn(folder));
    QFile::copy(QStringLiteral(TARNOWLOCK_EXECUTABLE), executableIn(folder));
}

ProgramUnderTest::~ProgramUnderTest()
{
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(5000);
    }
}

bool ProgramUnderTest::start(const QStringList &arguments)
{
    prepare(program, dir);
    program.start(executableIn(dir), arguments);
    if (!program.waitForStarted(5000))
        return false;
    // Connecting without a message is not a message; it tells the claim is made.
    const QString key = SingleInstance::keyFor(dir);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && program.state() == QProcess::Running) {
        QLocalSocket probe;
        probe.connectToServer(key);
        if (probe.waitForConnected(100))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool ProgramUnderTest::stop(int signal, int timeoutMs)
{
    ::kill(pid_t(program.processId()), signal);
    return program.waitForFinished(timeoutMs);
}

QString ProgramUnderTest::logText() const
{
    const QDir logDir(QDir(dir).filePath(QStringLiteral("log")));
    const QStringList files = logDir.entryList({QStringLiteral("*.log")}, QDir::Files);
    if (files.size() != 1)
        return QString();
    QFile file(logDir.filePath(files.first()));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

int ProgramUnderTest::runAgain(const QString &folder, const QStringList &arguments, int timeoutMs,
                               qint64 *elapsedMs)
{
    QProcess again;
    prepare(again, folder);
    QElapsedTimer clock;
    clock.start();
    again.start(executableIn(folder), arguments);
    const bool ended = again.waitForFinished(timeoutMs);
    *elapsedMs = clock.elapsed();
    if (!ended) {
        again.kill();
        again.waitForFinished(5000);
        return -1;
    }
    return again.exitStatus() == QProcess::NormalExit ? again.exitCode() : -1;
}
