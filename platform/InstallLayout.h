#pragma once

#include <QString>

// Where an installed copy lives and keeps its working files; set by the build for its prefix.
struct InstallLayout {
    QString binDir;   // the folder the installed executable lies in, e.g. /usr/bin
    QString stateDir; // its working files, e.g. /var/lib/tarnowlock
};

// The folder of the working files (settings, hosts/, log/, DNS).
struct WorkingFolder {
    QString path;
    bool installed = false; // the state folder of an installed copy, not the executable's own
};

// An executable in the installed bin folder (compared after resolving links) keeps its files in
// the state folder; any other, a build tree or a portable folder, keeps them beside itself.
WorkingFolder workingFolderFor(const QString &executableDir, const InstallLayout &layout);

// The layout this build installs.
InstallLayout builtInstallLayout();
