#include "platform/WindowsNameServerStore.h"

#include "platform/SystemConstants.h"

#include <QSettings>

QStringList WindowsNameServerStore::interfaces() const
{
    QSettings key(tcpipInterfacesKey, QSettings::NativeFormat);
    QStringList paths;
    for (const QString &child : key.childGroups())
        paths << tcpipInterfacesKey + QLatin1Char('\\') + child;
    return paths;
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
