#pragma once

#include <QString>

// Program-wide constants. The paths are this operating system's; on Linux they name /etc.
extern const QString systemHostsPath;        // the hosts file, in the system's own notation
extern const QString systemHostsPathSlashed; // the same file with forward slashes, read for rules
extern const QString systemEtcDir;           // the folder that holds it
extern const QString appVersion;
extern const QString sessionStartupCaption; // the Options' start-up check box: the system's own words
extern const QString tcpipInterfacesKey;    // Windows registry key of the per-interface TCP/IP values
extern const QString tcpip6InterfacesKey;   // the same for IPv6
