#include "tests/support/ProgramUnderTest.h"

#include "app/SingleInstance.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QLocalSocket>
#include <QTest>

#include <csignal>

// The program makes its own folder the working directory; the offscreen platform comes from the
// test's environment.
ProgramUnderTest::ProgramUnderTest(const QString &folder) : dir(folder)
{
    QDir(folder).mkpath(QStringLiteral("log"));
    program.setProgram(QDir(folder).filePath(QStringLiteral("tarnowlock")));
    QFile::remove(program.program());
    QFile::copy(QStringLiteral(TARNOWLOCK_EXECUTABLE), program.program());
}

ProgramUnderTest::~ProgramUnderTest()
{
    if (!stop(SIGTERM)) // as a user ends it, so that no lock or socket is left in /tmp
        program.kill();
    program.waitForFinished(5000);
}

bool ProgramUnderTest::start()
{
    program.start();
    // The running instance acknowledges a message (here an empty text) only from its event loop.
    const QByteArray message(4, '\0');
    const auto ready = [&] {
        QLocalSocket probe;
        probe.connectToServer(SingleInstance::keyFor(dir));
        return probe.waitForConnected(100) && probe.write(message) == message.size() &&
               probe.waitForReadyRead(2000) && probe.read(1) == "\x01";
    };
    // Started (state Running) first: the acknowledgement may come before that news is handled.
    return program.waitForStarted(10000) &&
           QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning || ready(); }, 20000) &&
           program.state() == QProcess::Running;
}

bool ProgramUnderTest::stop(int signal)
{
    if (program.state() != QProcess::Running)
        return false; // kill(0, ...) would reach this whole process group
    ::kill(pid_t(program.processId()), signal);
    return program.waitForFinished(15000);
}

int ProgramUnderTest::runAgain()
{
    QProcess again;
    again.start(program.program(), {});
    const bool ended = again.waitForFinished(20000) && again.exitStatus() == QProcess::NormalExit;
    return ended ? again.exitCode() : -1; // a copy still running is killed as `again` goes
}

QString ProgramUnderTest::logText() const
{
    const QDir logDir(QDir(dir).filePath(QStringLiteral("log")));
    const QStringList files = logDir.entryList({QStringLiteral("*.log")}, QDir::Files);
    return files.size() == 1 ? QString::fromLocal8Bit(readWholeFile(logDir.filePath(files.first())))
                             : QString();
}
