#pragma once

#include <QString>

// The user whose desktop the program serves: the one pkexec or sudo names (PKEXEC_UID, SUDO_UID)
// when it runs as root on their behalf, else the user it runs as.
struct DesktopUser {
    uint uid = 0;
    uint gid = 0;
    QString home; // empty when the user has no entry in the password database
};

DesktopUser desktopUser();

// True when the process at the other end of the local socket `descriptor` runs as root, as the
// desktop user or as this process's user: the peers the single-instance socket deals with.
bool isTrustedPeer(qintptr descriptor);
