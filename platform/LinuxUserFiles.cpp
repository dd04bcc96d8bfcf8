#include "platform/LinuxUserFiles.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

// Where the child stopped; the parent turns it into a text.
enum class Step : int { Done, Drop, Open, Create, Link, NotFolder, NotFile, Owner, Write, Remove };

// Sent through the pipe in one write, well below PIPE_BUF, so it arrives whole or not at all.
struct Report {
    Step step = Step::Done;
    int level = 0; // 0 the home, then one per folder, then the file
    int error = 0;
};

// All the child needs, made before fork: after it only async-signal-safe calls are allowed.
struct Plan {
    uid_t uid;
    gid_t gid;
    const char *home;
    std::vector<const char *> folders;
    const char *name;
    const char *temporary;
    const char *content; // null: remove the file
    qsizetype size;
};

Report failed(Step step, int level, int error)
{
    return {step, level, error};
}

bool dropTo(uid_t uid, gid_t gid)
{
    uid_t ruid = 0, euid = 0, suid = 0;
    gid_t rgid = 0, egid = 0, sgid = 0;
    return ::setgroups(1, &gid) == 0 && ::setresgid(gid, gid, gid) == 0 && ::setresuid(uid, uid, uid) == 0 &&
           ::getresgid(&rgid, &egid, &sgid) == 0 && ::getresuid(&ruid, &euid, &suid) == 0 && rgid == gid &&
           egid == gid && sgid == gid && ruid == uid && euid == uid && suid == uid;
}

Report ownedBy(int folder, uid_t uid, int level)
{
    struct stat status = {};
    if (::fstat(folder, &status) != 0)
        return failed(Step::Open, level, errno);
    return status.st_uid == uid ? Report() : failed(Step::Owner, level, 0);
}

bool writeAll(int file, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(file, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// The child's work, done as the user. Descriptors are left to _exit.
Report act(const Plan &plan)
{
    if (::geteuid() == 0 && plan.uid != 0 && !dropTo(plan.uid, plan.gid))
        return failed(Step::Drop, 0, errno);
    int folder = ::open(plan.home, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return failed(Step::Open, 0, errno);
    if (const Report owner = ownedBy(folder, plan.uid, 0); owner.step != Step::Done)
        return owner;
    const int fileLevel = int(plan.folders.size()) + 1;
    struct stat status = {};
    for (int level = 1; level < fileLevel; ++level) {
        const char *name = plan.folders[size_t(level - 1)];
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(folder, name, flags);
        if (next < 0 && errno == ENOENT) {
            if (!plan.content)
                return Report(); // nothing there to remove
            if (::mkdirat(folder, name, 0700) != 0 && errno != EEXIST)
                return failed(Step::Create, level, errno);
            next = ::openat(folder, name, flags);
        }
        if (next < 0) {
            const int error = errno;
            // A link or a file fails the open with ELOOP or ENOTDIR; say which it is.
            if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(status.st_mode))
                return failed(S_ISLNK(status.st_mode) ? Step::Link : Step::NotFolder, level, 0);
            return failed(Step::Open, level, error);
        }
        folder = next;
        if (const Report owner = ownedBy(folder, plan.uid, level); owner.step != Step::Done)
            return owner;
    }
    if (!plan.content) {
        if (::unlinkat(folder, plan.name, 0) != 0 && errno != ENOENT)
            return failed(Step::Remove, fileLevel, errno);
        return Report();
    }
    if (::fstatat(folder, plan.name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(status.st_mode))
            return failed(Step::Link, fileLevel, 0);
        if (!S_ISREG(status.st_mode))
            return failed(Step::NotFile, fileLevel, 0);
    } else if (errno != ENOENT) {
        return failed(Step::Open, fileLevel, errno);
    }
    ::unlinkat(folder, plan.temporary, 0); // the leftover of an interrupted write, if any
    const int file =
        ::openat(folder, plan.temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (file < 0)
        return failed(Step::Write, fileLevel, errno);
    if (!writeAll(file, plan.content, plan.size) || ::fsync(file) != 0 || ::close(file) != 0 ||
        ::renameat(folder, plan.temporary, folder, plan.name) != 0) {
        const Report report = failed(Step::Write, fileLevel, errno);
        ::unlinkat(folder, plan.temporary, 0);
        return report;
    }
    return Report();
}

QString userName(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

QString describe(const Report &report, const QString &path, uid_t uid)
{
    const QString error = qt_error_string(report.error);
    switch (report.step) {
    case Step::Done:
        return QString();
    case Step::Drop:
        return QStringLiteral("can't act as %1: %2").arg(userName(uid), error);
    case Step::Open:
        return QStringLiteral("can't open '%1': %2").arg(path, error);
    case Step::Create:
        return QStringLiteral("can't create '%1': %2").arg(path, error);
    case Step::Link:
        return QStringLiteral("'%1' is a symbolic link").arg(path);
    case Step::NotFolder:
        return QStringLiteral("'%1' is not a folder").arg(path);
    case Step::NotFile:
        return QStringLiteral("'%1' is not a regular file").arg(path);
    case Step::Owner:
        return QStringLiteral("'%1' is not owned by %2").arg(path, userName(uid));
    case Step::Write:
        return QStringLiteral("can't write '%1': %2").arg(path, error);
    case Step::Remove:
        return QStringLiteral("can't remove '%1': %2").arg(path, error);
    }
    return QString();
}

} // namespace

QString changeUserFile(const DesktopUser &user, const QStringList &folders, const QString &name,
                       const std::optional<QByteArray> &content)
{
    const QByteArray home = QFile::encodeName(user.home);
    const QByteArray entry = QFile::encodeName(name);
    const QByteArray temporary = '.' + entry + ".part";
    std::vector<QByteArray> folderNames;
    for (const QString &folder : folders)
        folderNames.push_back(QFile::encodeName(folder));
    std::vector<const char *> folderPointers;
    for (const QByteArray &folder : folderNames)
        folderPointers.push_back(folder.constData());
    const Plan plan{user.uid,
                    user.gid,
                    home.constData(),
                    std::move(folderPointers),
                    entry.constData(),
                    temporary.constData(),
                    content ? content->constData() : nullptr,
                    content ? content->size() : 0};

    int channel[2] = {-1, -1};
    const pid_t child = ::pipe2(channel, O_CLOEXEC) == 0 ? ::fork() : -1;
    if (child == 0) {
        const Report report = act(plan);
        [[maybe_unused]] const ssize_t sent = ::write(channel[1], &report, sizeof report);
        ::_exit(0);
    }
    const int startError = errno;
    ::close(channel[1]);
    Report report;
    ssize_t got = -1;
    while (child > 0 && (got = ::read(channel[0], &report, sizeof report)) < 0 && errno == EINTR) {
    }
    ::close(channel[0]);
    if (child < 0)
        return describe(failed(Step::Drop, 0, startError), QString(), user.uid);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (got != sizeof report)
        return QStringLiteral("the process acting as %1 ended without a word").arg(userName(user.uid));
    const QStringList path = QStringList{user.home} << folders << name;
    return describe(report, QDir::cleanPath(path.mid(0, report.level + 1).join(QLatin1Char('/'))), user.uid);
}
