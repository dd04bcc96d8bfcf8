#include "platform/LinuxDesktopUser.h"

#include <QFile>

#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The user id an elevating tool left in the environment, or -1.
qint64 elevatingUser()
{
    for (const char *name : {"PKEXEC_UID", "SUDO_UID"}) {
        bool ok = false;
        const uint uid = qEnvironmentVariable(name).toUInt(&ok);
        if (ok)
            return uid;
    }
    return -1;
}

} // namespace

DesktopUser desktopUser()
{
    DesktopUser user;
    user.uid = ::geteuid();
    user.gid = ::getegid();
    // Elevated for a user: theirs, with the group of the password database where it knows them.
    if (const qint64 elevating = elevatingUser(); user.uid == 0 && elevating >= 0)
        user.uid = user.gid = uint(elevating);
    if (const passwd *entry = ::getpwuid(user.uid)) {
        user.gid = entry->pw_gid;
        user.home = QFile::decodeName(entry->pw_dir);
    }
    return user;
}

bool isTrustedPeer(qintptr descriptor)
{
    ucred peer = {};
    socklen_t size = sizeof(peer);
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    return peer.uid == 0 || peer.uid == ::geteuid() || peer.uid == desktopUser().uid;
}
