#pragma once

#include "platform/InstallLayout.h"
#include "platform/Platform.h"
#include "platform/ResolvConfStore.h"
#include "platform/ResolvConfWatch.h"

// Where the Linux implementation finds the system's files. Tests point these at a temporary folder.
struct LinuxPaths {
    QString hostsFile = QStringLiteral("/etc/hosts");
    QString etcDir = QStringLiteral("/etc/");
    QString resolvConf = QStringLiteral("/etc/resolv.conf");
    QString resolvedRunDir = QStringLiteral("/run/systemd/resolve"); // present while systemd-resolved runs
    QString userHome; // empty: the desktop user's home from the password database
    QString pkexec = QStringLiteral("pkexec");
    InstallLayout layout = builtInstallLayout();
};

class LinuxPlatform : public Platform {
public:
    explicit LinuxPlatform(LinuxPaths paths = LinuxPaths());

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

    void showFolder(const QString &folder) override;
    bool startEditor(const QString &editor, const QString &argument, const QString &workingDir) override;

    NameServerStore &nameServers() override;
    void watchNameServers(std::function<void()> changed) override;
    void registerDns() override;
    bool flushDnsCache() override;

    QString setStartupEntry(bool enabled, const QString &executable) override;
    void quitOnTerminationRequest() override;
    bool terminationRequested() const override;

    // The autostart entry's text for `executable`.
    static QByteArray desktopEntry(const QString &executable);

private:
    LinuxPaths paths;
    ResolvConfStore resolvConf;
    ResolvConfWatch resolvConfWatch;
};
