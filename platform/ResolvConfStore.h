#pragma once

#include "platform/NameServerStore.h"

// /etc/resolv.conf as the one interface: its "nameserver" lines, joined by commas, are the
// NameServer value; a missing file reads as absent. Writing rewrites only those lines, keeps
// everything else in its place, and goes through a symbolic link to the file it names.
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
