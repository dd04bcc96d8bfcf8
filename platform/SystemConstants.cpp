#include "platform/SystemConstants.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
const QString systemHostsPath = QStringLiteral("C:\\Windows\\System32\\drivers\\etc\\hosts");
const QString systemHostsPathSlashed = QStringLiteral("C:/Windows/System32/drivers/etc/hosts");
const QString systemEtcDir = QStringLiteral("C:\\Windows\\System32\\drivers\\etc\\");
const QString sessionStartupCaption = QStringLiteral("Along with Windows startup");
#else
const QString systemHostsPath = QStringLiteral("/etc/hosts");
const QString systemHostsPathSlashed = QStringLiteral("/etc/hosts");
const QString systemEtcDir = QStringLiteral("/etc/");
// A desktop session, not the machine, starts the program: it is an autostart entry of the user.
const QString sessionStartupCaption = QStringLiteral("Along with session startup");
#endif

const QString appVersion = QStringLiteral("0.3 Beta");
const QString tcpipInterfacesKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces");
const QString tcpip6InterfacesKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip6\\Parameters\\Interfaces");
