#pragma once

#include <QString>
#include <QStringList>

// The DNS servers configured per network interface. On Windows each interface is a registry key
// under tcpipInterfacesKey; on Linux /etc/resolv.conf is the one interface.
class NameServerStore {
public:
    // The text a value reads as when it does not exist.
    static inline const QString absent = QStringLiteral("*");

    virtual ~NameServerStore() = default;

    // Key paths of all interfaces, in the system's order.
    virtual QStringList interfaces() const = 0;
    // "NameServer": comma-separated servers set for the interface, or `absent`.
    virtual QString nameServer(const QString &interfacePath) const = 0;
    // "DhcpNameServer": blank-separated servers obtained by DHCP, or `absent`.
    virtual QString dhcpNameServer(const QString &interfacePath) const = 0;
    // Stores "NameServer"; the caller verifies by reading it back.
    virtual void setNameServer(const QString &interfacePath, const QString &servers) = 0;
    // Where the local server answers the interface's questions: ::1 for one that asks over IPv6.
    virtual QString localServer(const QString &interfacePath) const
    {
        Q_UNUSED(interfacePath)
        return QStringLiteral("127.0.0.1");
    }
};
