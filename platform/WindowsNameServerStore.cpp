#include "platform/WindowsNameServerStore.h"

#include "platform/SystemConstants.h"

#include <QSettings>

QStringList WindowsNameServerStore::interfaces() const
{
    // IPv6 servers are asked first on a dual-stack network: theirs are pointed at ::1 alike.
    QStringList paths;
    for (const QString &interfacesKey : {tcpipInterfacesKey, tcpip6InterfacesKey}) {
        QSettings key(interfacesKey, QSettings::NativeFormat);
        for (const QString &child : key.childGroups())
            paths << interfacesKey + QLatin1Char('\\') + child;
    }
    return paths;
}

QString WindowsNameServerStore::localServer(const QString &interfacePath) const
{
    return interfacePath.startsWith(tcpip6InterfacesKey + QLatin1Char('\\'))
               ? QStringLiteral("::1")
               : NameServerStore::localServer(interfacePath);
}

QString WindowsNameServerStore::nameServer(const QString &interfacePath) const
{
    return QSettings(interfacePath, QSettings::NativeFormat)
        .value(QStringLiteral("NameServer"), absent)
        .toString();
}

QString WindowsNameServerStore::dhcpNameServer(const QString &interfacePath) const
{
    return QSettings(interfacePath, QSettings::NativeFormat)
        .value(QStringLiteral("DhcpNameServer"), absent)
        .toString();
}

void WindowsNameServerStore::setNameServer(const QString &interfacePath, const QString &servers)
{
    QSettings key(interfacePath, QSettings::NativeFormat);
    key.setValue(QStringLiteral("NameServer"), servers);
    key.sync();
}
