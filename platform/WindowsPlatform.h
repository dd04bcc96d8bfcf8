#pragma once

#include "platform/Platform.h"
#include "platform/WindowsNameServerStore.h"

class WindowsPlatform : public Platform {
public:
    QString systemHostsPath() const override;
    QString systemHostsPathSlashed() const override;
    QString systemEtcDir() const override;
    QString defaultHostsSource() const override;
    QString defaultEditor() const override;
    QString executablePath() const override;
    WorkingFolder workingFolder() const override;

    bool isAdmin() const override;
    void startElevated(const QString &executable, std::function<void(bool)> done) override;

    bool writeHostsFile(const QStringList &sources) override;
    bool copyFile(const QString &source, const QString &target) override;
    QString lastWriteFailure() const override;

    void showFolder(const QString &folder) override;
    bool startEditor(const QString &editor, const QString &argument, const QString &workingDir) override;

    NameServerStore &nameServers() override;
    void watchNameServers(std::function<void()> changed) override;
    void registerDns() override;
    bool flushDnsCache() override;

    QString setStartupEntry(bool enabled, const QString &executable) override;
    void quitOnTerminationRequest() override;
    bool terminationRequested() const override;

private:
    WindowsNameServerStore registry;
    QString writeFailure;
};
