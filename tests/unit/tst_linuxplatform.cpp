#include "platform/LinuxPlatform.h"
#include "tests/support/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestLinuxPlatform : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    LinuxPaths paths() const
    {
        LinuxPaths result;
        result.hostsFile = dir.filePath("etc/hosts");
        result.etcDir = dir.filePath("etc/");
        result.resolvConf = dir.filePath("etc/resolv.conf");
        result.resolvedRunDir = dir.filePath("run/systemd/resolve");
        result.userAutostartDir = dir.filePath("home/.config/autostart");
        result.systemAutostartDir = dir.filePath("etc/xdg/autostart");
        return result;
    }

private slots:
    void initTestCase() { QVERIFY(QDir(dir.path()).mkpath("etc/xdg/autostart")); }

    void constants()
    {
        LinuxPlatform system;
        QCOMPARE(system.systemHostsPath(), QStringLiteral("/etc/hosts"));
        QCOMPARE(system.systemHostsPathSlashed(), QStringLiteral("/etc/hosts"));
        QCOMPARE(system.systemEtcDir(), QStringLiteral("/etc/"));
        QCOMPARE(system.defaultHostsSource(), QStringLiteral("file:///etc/hosts"));
        QCOMPARE(system.defaultEditor(), QStringLiteral("xdg-open"));
        QCOMPARE(system.isAdmin(), ::geteuid() == 0);
        QCOMPARE(system.executablePath(), QCoreApplication::applicationFilePath());
    }

    void startupEntry()
    {
        LinuxPlatform platform(paths());
        const QString machineEntry = paths().systemAutostartDir + "/Tarnowlock.desktop";
        const QString userEntry = paths().userAutostartDir + "/Tarnowlock.desktop";
        QFile machine(machineEntry);
        QVERIFY(machine.open(QIODevice::WriteOnly));
        machine.close();

        platform.setStartupEntry(true, "/opt/my apps/tarnowlock");
        QVERIFY2(!QFile::exists(machineEntry), "the machine-wide entry is removed every time");
        const QByteArray entry = readWholeFile(userEntry);
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        QVERIFY2(entry.contains("\nExec=\"/opt/my apps/tarnowlock\" -silent\n"), entry.constData());

        platform.setStartupEntry(false, "/opt/my apps/tarnowlock");
        QVERIFY(!QFile::exists(userEntry));
    }

    void desktopEntryQuoting_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QByteArray>("exec");
        QTest::newRow("plain") << "/usr/bin/tarnowlock" << QByteArray("Exec=\"/usr/bin/tarnowlock\" -silent");
        QTest::newRow("quote") << "/a\"b/t" << QByteArray("Exec=\"/a\\\"b/t\" -silent");
        QTest::newRow("dollar and backtick") << "/a$b`c/t" << QByteArray("Exec=\"/a\\$b\\`c/t\" -silent");
        QTest::newRow("percent") << "/100%/t" << QByteArray("Exec=\"/100%%/t\" -silent");
    }
    void desktopEntryQuoting()
    {
        QFETCH(QString, executable);
        QFETCH(QByteArray, exec);
        QVERIFY2(LinuxPlatform::desktopEntry(executable).contains("\n" + exec + "\n"),
                 LinuxPlatform::desktopEntry(executable).constData());
    }

    void flushWithoutCachingResolverSucceeds()
    {
        LinuxPlatform platform(paths());
        QVERIFY(!QFileInfo::exists(paths().resolvedRunDir));
        QVERIFY(platform.flushDnsCache());
    }

    void writeHostsFileReplacesTheConfiguredFile()
    {
        LinuxPlatform platform(paths());
        QVERIFY(writeWholeFile(paths().hostsFile, "old\n"));
        const QString list = dir.filePath("a.hosts");
        QVERIFY(writeWholeFile(list, "0.0.0.0 *.example\n"));
        QVERIFY(platform.writeHostsFile({list, list}));
        QCOMPARE(readWholeFile(paths().hostsFile), QByteArray("0.0.0.0 *.example\n0.0.0.0 *.example\n"));
        QVERIFY(!platform.writeHostsFile({dir.filePath("missing.hosts")}));
        QCOMPARE(readWholeFile(paths().hostsFile), QByteArray("0.0.0.0 *.example\n0.0.0.0 *.example\n"));
    }
};

QTEST_MAIN(TestLinuxPlatform)
#include "tst_linuxplatform.moc"
