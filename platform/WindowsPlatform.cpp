#include "platform/WindowsPlatform.h"

#include "platform/SystemConstants.h"
#include "platform/WindowsCommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTimer>

#include <windows.h>

#include <shellapi.h>

namespace {

constexpr int flushTimeoutMs = 3000;
const QString runValueName = QStringLiteral("Tarnowlock");
const QString userRunKey =
    QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString machineRunKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");

// Runs "cmd /C <command>" in the current directory and waits for it; the exit code, or -1.
int runCmd(const QString &command)
{
    if (command.isEmpty())
        return -1;
    QProcess process;
    process.setProgram(QStringLiteral("cmd.exe"));
    // Native arguments: cmd's own quoting rules, not those of the C runtime.
    process.setNativeArguments(command);
    process.start();
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

// copy writes its target in place, so it writes a temporary file beside it, which then replaces
// the target: a read error part-way leaves the old file whole.
bool copyOver(const QStringList &sources, const QString &target)
{
    const QString staged = target + QStringLiteral(".part");
    const std::wstring from = QDir::toNativeSeparators(staged).toStdWString();
    const std::wstring to = QDir::toNativeSeparators(target).toStdWString();
    if (runCmd(windowsCopyCommand(sources, staged)) != 0 ||
        !MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        QFile::remove(staged);
        return false;
    }
    return true;
}

} // namespace

QString WindowsPlatform::systemHostsPath() const
{
    return ::systemHostsPath;
}

QString WindowsPlatform::systemHostsPathSlashed() const
{
    return ::systemHostsPathSlashed;
}

QString WindowsPlatform::systemEtcDir() const
{
    return ::systemEtcDir;
}

QString WindowsPlatform::defaultHostsSource() const
{
    return QStringLiteral("file:///C:/Windows/system32/drivers/etc/hosts");
}

QString WindowsPlatform::defaultEditor() const
{
    return QStringLiteral("notepad.exe");
}

QString WindowsPlatform::executablePath() const
{
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath()); // no MAX_PATH limit
}

WorkingFolder WindowsPlatform::workingFolder() const
{
    return {QCoreApplication::applicationDirPath(), false};
}

bool WindowsPlatform::isAdmin() const
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version) || version.dwMajorVersion < 6)
        return true; // no elevation prompt before Vista
#pragma GCC diagnostic pop
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                  0, 0, 0, 0, &administrators))
        return false; // the system refused the question: offer the elevated restart
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

void WindowsPlatform::startElevated(const QString &executable, std::function<void(bool)> done)
{
    // The consent prompt is on the secure desktop, where this process cannot repaint anyway.
    const std::wstring file = QDir::toNativeSeparators(executable).toStdWString();
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    const bool started = ShellExecuteExW(&info) != FALSE;
    QTimer::singleShot(0, QCoreApplication::instance(), [done = std::move(done), started] { done(started); });
}

bool WindowsPlatform::writeHostsFile(const QStringList &sources)
{
    return copyOver(sources, ::systemHostsPath);
}

bool WindowsPlatform::copyFile(const QString &source, const QString &target)
{
    return copyOver({source}, target);
}

void WindowsPlatform::showFolder(const QString &folder)
{
    QProcess::startDetached(QStringLiteral("explorer"), {QDir::toNativeSeparators(folder)});
}

bool WindowsPlatform::startEditor(const QString &editor, const QString &argument, const QString &workingDir)
{
    return QProcess::startDetached(editor, {argument}, workingDir);
}

NameServerStore &WindowsPlatform::nameServers()
{
    return registry;
}

void WindowsPlatform::watchNameServers(std::function<void()>)
{
    // Not watched: the interfaces' servers live in the registry, which needs a notification of its
    // own (RegNotifyChangeKeyValue); a change another program makes there stays.
}

void WindowsPlatform::registerDns()
{
    QProcess::startDetached(QStringLiteral("ipconfig"), {QStringLiteral("/registerdns")});
}

bool WindowsPlatform::flushDnsCache()
{
    QProcess flush;
    flush.start(QStringLiteral("ipconfig"), {QStringLiteral("/flushdns")});
    const bool finished = flush.waitForFinished(flushTimeoutMs);
    flush.close();
    return finished;
}

QString WindowsPlatform::setStartupEntry(bool enabled, const QString &executable)
{
    // Only an administrator may remove the machine-wide value; the user's own is what is reported.
    QSettings(machineRunKey, QSettings::NativeFormat).remove(runValueName);
    QSettings user(userRunKey, QSettings::NativeFormat);
    const QString command = windowsRunCommand(executable);
    if (enabled && command.isEmpty())
        return QStringLiteral("'%1' can't be written as a command line").arg(executable);
    if (enabled)
        user.setValue(runValueName, command);
    else
        user.remove(runValueName);
    user.sync();
    if (user.status() != QSettings::NoError)
        return QStringLiteral("can't write the value '%1' of '%2'").arg(runValueName, userRunKey);
    return QString();
}

void WindowsPlatform::quitOnTerminationRequest()
{
    // Log-off and shut-down already end the event loop through aboutToQuit.
}

bool WindowsPlatform::terminationRequested() const
{
    return false; // nothing asks but the session's end, which aboutToQuit serves
}

std::unique_ptr<Platform> createSystemPlatform()
{
    return std::make_unique<WindowsPlatform>();
}
