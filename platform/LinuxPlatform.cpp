#include "platform/LinuxPlatform.h"

#include "platform/FileReplace.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int flushTimeoutMs = 3000;
// How long the password prompt of pkexec may take before the restart counts as declined.
constexpr int elevationTimeoutMs = 5 * 60 * 1000;
const QString startupEntryName = QStringLiteral("Tarnowlock.desktop");

int terminationPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(terminationPipe[0], &byte, 1);
}

// The first field of a process's command line, or a null array once the process is gone.
QByteArray commandOf(qint64 pid)
{
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray all = cmdline.readAll();
    return all.left(all.indexOf('\0'));
}

} // namespace

LinuxPlatform::LinuxPlatform(LinuxPaths paths) : paths(std::move(paths)), resolvConf(this->paths.resolvConf)
{
    if (this->paths.userAutostartDir.isEmpty())
        this->paths.userAutostartDir = QDir::homePath() + QStringLiteral("/.config/autostart");
}

QString LinuxPlatform::systemHostsPath() const
{
    return paths.hostsFile;
}

QString LinuxPlatform::systemHostsPathSlashed() const
{
    return paths.hostsFile;
}

QString LinuxPlatform::systemEtcDir() const
{
    return paths.etcDir;
}

QString LinuxPlatform::defaultHostsSource() const
{
    return QStringLiteral("file:///etc/hosts");
}

QString LinuxPlatform::defaultEditor() const
{
    return QStringLiteral("xdg-open");
}

QString LinuxPlatform::executablePath() const
{
    return QCoreApplication::applicationFilePath();
}

bool LinuxPlatform::isAdmin() const
{
    return ::geteuid() == 0;
}

bool LinuxPlatform::startElevated(const QString &executable)
{
    // pkexec clears the environment; the display must reach the elevated copy.
    QStringList arguments{QStringLiteral("env")};
    for (const char *name :
         {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            arguments << QString::fromLatin1(name) + QLatin1Char('=') + value;
    }
    arguments << executable;
    qint64 pid = 0;
    if (!QProcess::startDetached(QStringLiteral("pkexec"), arguments, QString(), &pid))
        return false;

    // After the password pkexec execs env, which execs the program, all in the same process: the
    // restart has succeeded once that process runs the executable, and failed once it is gone.
    const QByteArray wanted = QFile::encodeName(executable);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < elevationTimeoutMs) {
        const QByteArray command = commandOf(pid);
        if (command.isNull())
            return false;
        if (command == wanted)
            return true;
        QThread::msleep(100);
    }
    return false;
}

bool LinuxPlatform::writeHostsFile(const QStringList &sources)
{
    return replaceFileWith(paths.hostsFile, sources);
}

bool LinuxPlatform::copyFile(const QString &source, const QString &target)
{
    return replaceFileWith(target, {source});
}

void LinuxPlatform::showFolder(const QString &folder)
{
    QProcess::startDetached(QStringLiteral("xdg-open"), {folder});
}

void LinuxPlatform::startEditor(const QString &editor, const QString &argument, const QString &workingDir)
{
    QProcess::startDetached(editor, {argument}, workingDir);
}

NameServerStore &LinuxPlatform::nameServers()
{
    return resolvConf;
}

void LinuxPlatform::registerDns()
{
    // Linux resolvers read resolv.conf afresh; there is nothing to register.
}

bool LinuxPlatform::flushDnsCache()
{
    if (!QFileInfo::exists(paths.resolvedRunDir))
        return true; // no caching resolver runs, so nothing is cached
    QProcess flush;
    flush.start(QStringLiteral("resolvectl"), {QStringLiteral("flush-caches")});
    const bool finished = flush.waitForFinished(flushTimeoutMs);
    flush.close();
    return finished;
}

QByteArray LinuxPlatform::desktopEntry(const QString &executable)
{
    // Exec quoting: \ " ` $ are escaped inside the quotes, and % is doubled.
    QString quoted = executable;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""))
        .replace(QLatin1Char('`'), QStringLiteral("\\`"))
        .replace(QLatin1Char('$'), QStringLiteral("\\$"))
        .replace(QLatin1Char('%'), QStringLiteral("%%"));
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tarnowlock\n"
           "Exec=\"" +
           quoted.toUtf8() +
           "\" -silent\n"
           "Icon=tarnowlock\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void LinuxPlatform::setStartupEntry(bool enabled, const QString &executable)
{
    QFile::remove(paths.systemAutostartDir + QLatin1Char('/') + startupEntryName);
    const QString userEntry = paths.userAutostartDir + QLatin1Char('/') + startupEntryName;
    if (!enabled) {
        QFile::remove(userEntry);
        return;
    }
    QDir().mkpath(paths.userAutostartDir);
    QSaveFile file(userEntry);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(desktopEntry(executable));
        file.commit();
    }
}

void LinuxPlatform::quitOnTerminationRequest()
{
    if (terminationPipe[0] != -1 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, terminationPipe) != 0)
        return;
    // The handler only writes a byte; the quit happens in the event loop.
    auto *notifier =
        new QSocketNotifier(terminationPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(terminationPipe[1], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

std::unique_ptr<Platform> createSystemPlatform()
{
    return std::make_unique<LinuxPlatform>();
}
