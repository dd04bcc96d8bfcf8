#pragma once

#include "platform/NameServerStore.h"

// The per-interface TCP/IP values of the Windows registry, under tcpipInterfacesKey and, for IPv6,
// tcpip6InterfacesKey.
class WindowsNameServerStore : public NameServerStore {
public:
    QStringList interfaces() const override;
    QString nameServer(const QString &interfacePath) const override;
    QString dhcpNameServer(const QString &interfacePath) const override;
    void setNameServer(const QString &interfacePath, const QString &servers) override;
    QString localServer(const QString &interfacePath) const override;
};
