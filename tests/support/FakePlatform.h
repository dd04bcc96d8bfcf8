#pragma once

#include "platform/NameServerStore.h"
#include "platform/Platform.h"

#include <QMap>
#include <QStringList>

#include <functional>

// Name servers held in memory. A write to an interface listed in `refused` is dropped, as the
// registry drops one made without rights.
class FakeNameServerStore : public NameServerStore {
public:
    struct Values {
        QString nameServer = NameServerStore::absent;
        QString dhcpNameServer = NameServerStore::absent;
    };

    QStringList interfaces() const override { return order; }
    QString nameServer(const QString &interfacePath) const override;
    QString dhcpNameServer(const QString &interfacePath) const override;
    void setNameServer(const QString &interfacePath, const QString &servers) override;

    void add(const QString &interfacePath, const QString &nameServer, const QString &dhcpNameServer);

    QStringList order;
    QMap<QString, Values> values;
    QStringList refused;
    QStringList writes; // "path=servers", in the order made
};

// Records what the program asks of the system and answers as told. Files are real: the hosts
// file is `hostsFile`, which a test points into its temporary folder.
class FakePlatform : public Platform {
public:
    QString systemHostsPath() const override { return hostsFile; }
    QString systemHostsPathSlashed() const override { return hostsFile; }
    QString systemEtcDir() const override { return etcDir; }
    QString defaultHostsSource() const override { return QStringLiteral("file:///etc/hosts"); }
    QString defaultEditor() const override { return QStringLiteral("xdg-open"); }
    QString executablePath() const override { return executable; }

    bool isAdmin() const override { return admin; }
    bool startElevated(const QString &path) override;

    bool writeHostsFile(const QStringList &sources) override;
    bool copyFile(const QString &source, const QString &target) override;

    void showFolder(const QString &folder) override { calls << QStringLiteral("showFolder ") + folder; }
    void startEditor(const QString &editor, const QString &argument, const QString &workingDir) override;

    NameServerStore &nameServers() override { return store; }
    void registerDns() override { calls << QStringLiteral("registerDns"); }
    bool flushDnsCache() override;

    void setStartupEntry(bool enabled, const QString &path) override;
    void quitOnTerminationRequest() override { calls << QStringLiteral("quitOnTerminationRequest"); }

    QString hostsFile;
    QString etcDir = QStringLiteral("/etc/");
    QString executable = QStringLiteral("/opt/tarnowlock/tarnowlock");
    bool admin = true;
    bool elevationAccepted = true;
    std::function<void()> whileElevating; // runs inside startElevated, before it answers
    bool flushSucceeds = true;
    bool writesSucceed = true;
    FakeNameServerStore store;
    QStringList calls; // every request, in order, as "name arguments"
};
