#include "platform/LinuxPlatform.h"

#include "platform/FileReplace.h"
#include "platform/LinuxDesktopUser.h"
#include "platform/LinuxUserFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int flushTimeoutMs = 3000;
// How long the password prompt of pkexec may take before the restart counts as declined.
constexpr int elevationTimeoutMs = 5 * 60 * 1000;
constexpr int elevationPollMs = 100;
const QString startupEntryName = QStringLiteral("Tarnowlock.desktop");

int terminationPipe[2] = {-1, -1};
bool terminating = false;

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(terminationPipe[0], &byte, 1);
}

enum class Elevation { Asking, Started, Gone };

// What became of the pkexec process `pid`, which runs `executable` once the user has said yes. Its
// /proc entry may be hidden from us (a setuid process under hidepid), so where it cannot be read
// the process's rights tell: ours to signal while it asks, root's once it has switched to run the
// program, gone when declined.
Elevation elevationOf(qint64 pid, const QByteArray &executable)
{
    if (pid <= 0)
        return Elevation::Gone;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray all = cmdline.readAll();
        if (!all.isEmpty()) // a process that has ended but is not yet reaped shows none
            return all.left(all.indexOf('\0')) == executable ? Elevation::Started : Elevation::Asking;
    }
    if (::kill(pid_t(pid), 0) == 0)
        return Elevation::Asking;
    return errno == EPERM ? Elevation::Started : Elevation::Gone;
}

} // namespace

LinuxPlatform::LinuxPlatform(LinuxPaths paths)
    : paths(std::move(paths)), resolvConf(this->paths.resolvConf), resolvConfWatch(this->paths.resolvConf)
{
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
    // A desktop's own text editor: xdg-open opens nothing for the empty argument of a new list, and
    // hands a .hosts file to whatever claims the type.
    for (const char *editor : {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "pluma", "xed",
                               "featherpad", "leafpad"}) {
        if (!QStandardPaths::findExecutable(QString::fromLatin1(editor)).isEmpty())
            return QString::fromLatin1(editor);
    }
    return QStringLiteral("xdg-open");
}

QString LinuxPlatform::executablePath() const
{
    return QCoreApplication::applicationFilePath();
}

WorkingFolder LinuxPlatform::workingFolder() const
{
    return workingFolderFor(QCoreApplication::applicationDirPath(), paths.layout);
}

bool LinuxPlatform::isAdmin() const
{
    return ::geteuid() == 0;
}

void LinuxPlatform::startElevated(const QString &executable, std::function<void(bool)> done)
{
    QStringList arguments;
    if (!workingFolderFor(QFileInfo(executable).absolutePath(), paths.layout).installed) {
        // Only the installed executable has our polkit action, which keeps the display; any other
        // copy gets it through env, since pkexec clears the environment.
        arguments << QStringLiteral("env");
        for (const char *name :
             {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"}) {
            const QString value = qEnvironmentVariable(name);
            if (!value.isEmpty())
                arguments << QString::fromLatin1(name) + QLatin1Char('=') + value;
        }
    }
    arguments << executable;
    qint64 pid = 0;
    auto *poll = new QTimer(QCoreApplication::instance());
    if (!QProcess::startDetached(paths.pkexec, arguments, QString(), &pid))
        pid = 0;

    // After the password pkexec execs the program (through env for a copy that is not installed),
    // all in the same process: the restart has succeeded once that process runs the executable,
    // and failed once it is gone. The prompt may stay open for minutes, so this is polled from the
    // event loop, which meanwhile keeps the window and the DNS server going.
    const QByteArray wanted = QFile::encodeName(executable);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        const Elevation state = elevationOf(pid, wanted);
        if (state == Elevation::Asking && clock.elapsed() < elevationTimeoutMs)
            return;
        poll->stop();
        poll->deleteLater();
        done(state == Elevation::Started);
    });
    poll->start(elevationPollMs);
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

bool LinuxPlatform::startEditor(const QString &editor, const QString &argument, const QString &workingDir)
{
    return QProcess::startDetached(editor, {argument}, workingDir);
}

NameServerStore &LinuxPlatform::nameServers()
{
    return resolvConf;
}

void LinuxPlatform::watchNameServers(std::function<void()> changed)
{
    resolvConfWatch.watch(std::move(changed));
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
    // Exec quoting escapes \ " ` $ inside the quotes; then the value's own escaping doubles every
    // backslash (so a backslash of the path becomes four), and % is doubled for the field codes.
    QString quoted = executable;
    for (const QChar special : {u'\\', u'"', u'`', u'$'})
        quoted.replace(special, QStringLiteral("\\") + special);
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('%'), QStringLiteral("%%"));
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

QString LinuxPlatform::setStartupEntry(bool enabled, const QString &executable)
{
    // The entry belongs to the desktop user and lies in their home, so it is written as them, also
    // when root runs for them; the machine-wide autostart folder is the administrator's, never ours.
    DesktopUser user = desktopUser();
    if (!paths.userHome.isEmpty())
        user.home = paths.userHome;
    if (user.home.isEmpty())
        return QStringLiteral("user %1 has no home folder").arg(user.uid);
    return changeUserFile(user, {QStringLiteral(".config"), QStringLiteral("autostart")}, startupEntryName,
                          enabled ? std::optional(desktopEntry(executable)) : std::nullopt);
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
        terminating = true;
        // Unlike quit(), exit() also ends the loop of a box open before the event loop runs.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

bool LinuxPlatform::terminationRequested() const
{
    return terminating;
}

std::unique_ptr<Platform> createSystemPlatform()
{
    return std::make_unique<LinuxPlatform>();
}
