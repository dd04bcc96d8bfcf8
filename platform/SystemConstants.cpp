#include "platform/SystemConstants.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
const QString systemHostsPath = QStringLiteral("C:\\Windows\\System32\\drivers\\etc\\hosts");
const QString systemHostsPathSlashed = QStringLiteral("C:/Windows/System32/drivers/etc/hosts");
const QString systemEtcDir = QStringLiteral("C:\\Windows\\System32\\drivers\\etc\\");
#else
const QString systemHostsPath = QStringLiteral("/etc/hosts");
const QString systemHostsPathSlashed = QStringLiteral("/etc/hosts");
const QString systemEtcDir = QStringLiteral("/etc/");
#endif

const QString appVersion = QStringLiteral("0.3 Beta");
const QString tcpipInterfacesKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces");
const QString tcpip6InterfacesKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip6\\Parameters\\Interfaces");
