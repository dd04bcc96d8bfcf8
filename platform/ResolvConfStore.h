#pragma once

#include "platform/NameServerStore.h"

// /etc/resolv.conf as the one interface: its "nameserver" lines, joined by commas, are the
// NameServer value. Writing rewrites only those lines and keeps everything else in its place.
class ResolvConfStore : public NameServerStore {
public:
    explicit ResolvConfStore(QString path);

    QStringList interfaces() const override;
    QString nameServer(const QString &interfacePath) const override;
    QString dhcpNameServer(const QString &interfacePath) const override;
    void setNameServer(const QString &interfacePath, const QString &servers) override;

private:
    QString path;
};
