#include "tests/support/ProgramUnderTest.h"

#include "app/SingleInstance.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QLocalSocket>
#include <QTest>

#include <csignal>

// The program makes its own folder the working directory; the offscreen platform comes from the
// test's environment.
ProgramUnderTest::ProgramUnderTest(const QString &folder, const QString &workingFolder)
    : binDir(folder), dir(workingFolder.isEmpty() ? folder : workingFolder),
      executable(QDir(folder).filePath(QStringLiteral("tarnowlock")))
{
    QDir(dir).mkpath(QStringLiteral("log"));
    QFile::remove(executable);
    QFile::copy(QStringLiteral(TARNOWLOCK_EXECUTABLE), executable);
}

ProgramUnderTest::~ProgramUnderTest()
{
    if (!stop(SIGTERM)) // as a user ends it
        program.kill();
    program.waitForFinished(5000);
}

void ProgramUnderTest::startIn(QProcess &process, std::optional<uint> user,
                               const QStringList &arguments) const
{
    const QString id = QString::number(user.value_or(0));
    process.setWorkingDirectory(binDir);
    if (user)
        process.start(QStringLiteral("setpriv"),
                      QStringList{"--reuid=" + id, "--regid=" + id, "--clear-groups", executable} +
                          arguments);
    else
        process.start(executable, arguments);
}

bool ProgramUnderTest::start(std::optional<uint> user)
{
    QFile::setPermissions(binDir, QFile::permissions(binDir) | QFile::ReadOther | QFile::ExeOther);
    if (user) {
        const QString id = QString::number(*user);
        QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), id + u':' + id, binDir});
    }
    startIn(program, user);
    // The running instance acknowledges a message (here an empty text) only from its event loop.
    const QByteArray message(4, '\0');
    const auto ready = [&] {
        QLocalSocket probe;
        return SingleInstance::connectToRunning(probe, dir, 100) && probe.write(message) == message.size() &&
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

int ProgramUnderTest::runAgain(std::optional<uint> user, const QStringList &arguments)
{
    QProcess again;
    startIn(again, user, arguments);
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
