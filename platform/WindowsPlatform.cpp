#include "platform/WindowsPlatform.h"

#include "platform/SystemConstants.h"
#include "platform/WindowsCommands.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTimer>

#include <windows.h>

#include <shellapi.h>

namespace {

constexpr int flushTimeoutMs = 3000;
constexpr int busyRetryMs = 1000;
constexpr DWORD busyPauseMs = 50;
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

// Opens the existing `path` for `access`, sharing it with everyone, and calls `use` on it: the
// system's error code, or ERROR_SUCCESS.
template <typename Use> DWORD withFile(const std::wstring &path, DWORD access, Use use)
{
    const HANDLE file =
        CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    const DWORD error = use(file) ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    return error;
}

bool missing(const std::wstring &path)
{
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Another program (an antivirus scanning it, an editor) holds the file for a moment.
bool busy(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Puts `from`, flushed to the disk first, in place of `to`. ReplaceFileW keeps the old file's ACL
// and attributes; a rename serves only where no old file is left to keep them from.
DWORD putInPlace(const std::wstring &from, const std::wstring &to)
{
    if (const DWORD error = withFile(from, GENERIC_WRITE, FlushFileBuffers); error != ERROR_SUCCESS)
        return error;
    if (!missing(to)) {
        if (ReplaceFileW(to.c_str(), from.c_str(), nullptr, 0, nullptr, nullptr))
            return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        // It could not remove the old file and says no more: opening it as ReplaceFileW does tells
        // missing rights from a holder, who may have let go since.
        if (error == ERROR_UNABLE_TO_REMOVE_REPLACED) {
            const DWORD why =
                withFile(to, GENERIC_READ | GENERIC_WRITE | DELETE, [](HANDLE) { return TRUE; });
            return why == ERROR_SUCCESS ? ERROR_SHARING_VIOLATION : why;
        }
        if (!missing(to))
            return error;
    }
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? ERROR_SUCCESS : GetLastError();
}

// copy writes its target in place, so it writes a temporary file beside it, which then replaces
// the target: a read error part-way leaves the old file whole. `failure` says why, where missing
// rights are not the reason.
bool copyOver(const QStringList &sources, const QString &target, QString *failure)
{
    failure->clear();
    const QString staged = target + QStringLiteral(".part");
    if (runCmd(windowsCopyCommand(sources, staged)) != 0) {
        QFile::remove(staged);
        return false;
    }
    const std::wstring from = QDir::toNativeSeparators(staged).toStdWString();
    const std::wstring to = QDir::toNativeSeparators(target).toStdWString();
    const QDeadlineTimer deadline(busyRetryMs);
    DWORD error = putInPlace(from, to);
    for (; busy(error) && !deadline.hasExpired(); error = putInPlace(from, to))
        Sleep(busyPauseMs);
    if (error == ERROR_SUCCESS)
        return true;
    QFile::remove(staged);
    if (busy(error))
        *failure = QStringLiteral("'%1' is in use by another program").arg(target);
    return false;
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
    // Deprecated, yet what the test asks for; each compiler is told in its own words.
#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996)
#else
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const bool versionKnown = GetVersionExW(&version) != FALSE;
#ifdef _MSC_VER
#pragma warning(pop)
#else
#pragma GCC diagnostic pop
#endif
    if (!versionKnown || version.dwMajorVersion < 6)
        return true; // no elevation prompt before Vista
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
    return copyOver(sources, ::systemHostsPath, &writeFailure);
}

bool WindowsPlatform::copyFile(const QString &source, const QString &target)
{
    return copyOver({source}, target, &writeFailure);
}

QString WindowsPlatform::lastWriteFailure() const
{
    return writeFailure;
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
