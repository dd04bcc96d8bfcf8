#pragma once

#include "platform/FileReplace.h"
#include "platform/NameServerStore.h"
#include "platform/Platform.h"

#include <QDir>
#include <QMap>
#include <QStringList>

// Name servers held in memory.
class FakeNameServerStore : public NameServerStore {
public:
    QStringList interfaces() const override { return order; }
    QString nameServer(const QString &path) const override
    {
        return values.value(path, {absent, absent}).first;
    }
    QString dhcpNameServer(const QString &path) const override
    {
        return values.value(path, {absent, absent}).second;
    }
    void setNameServer(const QString &interfacePath, const QString &servers) override
    {
        writes << interfacePath + u'=' + servers;
        if (values.contains(interfacePath) && !refused.contains(interfacePath))
            values[interfacePath].first = servers;
    }

    // As the registry: the interfaces of the Tcpip6 key ask over IPv6.
    QString localServer(const QString &path) const override
    {
        return path.startsWith("Tcpip6") ? "::1" : NameServerStore::localServer(path);
    }

    void add(const QString &interfacePath, const QString &nameServer, const QString &dhcpNameServer)
    {
        order << interfacePath;
        values.insert(interfacePath, {nameServer, dhcpNameServer});
    }

    QStringList order;
    QMap<QString, std::pair<QString, QString>> values; // NameServer, DhcpNameServer
    QStringList writes;                                // "path=servers", in the order made
    QStringList refused;                               // interfaces whose writes do not take
};

// The system as far as a test may touch it: real files, the hosts file being `hostsFile` (which a
// test points into its temporary folder); name servers in memory; nothing started.
class FakePlatform : public Platform {
public:
    QString systemHostsPath() const override { return hostsFile; }
    QString systemHostsPathSlashed() const override { return hostsFile; }
    QString systemEtcDir() const override { return QStringLiteral("/etc/"); }
    QString defaultHostsSource() const override { return QStringLiteral("file:///etc/hosts"); }
    QString defaultEditor() const override { return QStringLiteral("xdg-open"); }
    QString executablePath() const override { return QStringLiteral("/opt/tarnowlock/tarnowlock"); }
    WorkingFolder workingFolder() const override { return {QDir::currentPath(), false}; }

    bool isAdmin() const override { return true; }
    // The prompt is declined once `asking` has looked around.
    void startElevated(const QString &, std::function<void(bool)> done) override
    {
        if (asking)
            asking();
        done(false);
    }

    bool writeHostsFile(const QStringList &sources) override
    {
        return writesSucceed && replaceFileWith(hostsFile, sources);
    }
    bool copyFile(const QString &source, const QString &target) override
    {
        return writesSucceed && replaceFileWith(target, {source});
    }

    void showFolder(const QString &) override {}
    bool startEditor(const QString &editor, const QString &, const QString &) override
    {
        return editor != "none";
    }

    NameServerStore &nameServers() override { return store; }
    void watchNameServers(std::function<void()> changed) override { nameServersChanged = std::move(changed); }
    void registerDns() override {}
    bool flushDnsCache() override { return true; }

    QString setStartupEntry(bool, const QString &) override { return startupRefusal; }
    void quitOnTerminationRequest() override {}
    bool terminationRequested() const override { return false; }

    QString hostsFile;
    std::function<void()> asking;
    QString startupRefusal; // why the start-up entry cannot be changed; empty: it can
    bool writesSucceed = true;
    FakeNameServerStore store;
    std::function<void()> nameServersChanged; // what the watch calls; empty while none runs
};
