#include "platform/LinuxPlatform.h"
#include "platform/WindowsCommands.h"
#include "tests/support/Skip.h"
#include "tests/support/TestFiles.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void windowsCommands_data()
    {
        QTest::addColumn<QStringList>("sources"); // copied over C:/x y; one source: the Run key's command
        QTest::addColumn<QString>("command");     // empty: refused
        QTest::newRow("two lists") << QStringList{"h/a", "b"}
                                   << R"(/D /V:OFF /C "copy "h\a" /B + "b" /B "C:\x y" /Y")";
        QTest::newRow("& | ^ quoted")
            << QStringList{"a & | ^ b"} << R"(/D /V:OFF /C "copy "a & | ^ b" /B "C:\x y" /Y")";
        QTest::newRow("quote would end the quoting") << QStringList{"a\" & calc & \""} << "";
        QTest::newRow("percent sign would expand") << QStringList{"%PATH%"} << "";
        QTest::newRow("exclamation mark would expand") << QStringList{"!PATH!"} << "";
        QTest::newRow("line feed would end the command") << QStringList{"a\ncalc"} << "";
        QTest::newRow("no list") << QStringList() << "";
        QTest::newRow("Run key: quoted, hidden")
            << QStringList{"run", "C:/a b/t.exe"} << R"("C:\a b\t.exe" -silent)";
        QTest::newRow("Run key: no executable, no command") << QStringList{"run", ""} << "";
    }
    void windowsCommands()
    {
        QFETCH(QStringList, sources);
        QFETCH(QString, command);
        QCOMPARE(sources.value(0) == "run" ? windowsRunCommand(sources[1])
                                           : windowsCopyCommand(sources, "C:/x y"),
                 command);
    }

    void workingFolder_data()
    {
        QTest::addColumn<QString>("executableDir"); // inside the test's folder, which holds usr/bin
        QTest::addColumn<bool>("installed");        // then the files go to its var/lib/tarnowlock
        QTest::newRow("build tree") << "build" << false;
        QTest::newRow("portable folder named bin") << "opt/bin" << false;
        QTest::newRow("installed") << "usr/bin" << true;
        QTest::newRow("installed, reached through a link") << "bin" << true;
    }
    void workingFolder()
    {
        QFETCH(QString, executableDir);
        QFETCH(bool, installed);
        ProgramFolder folder;
        for (const char *dir : {"build", "opt/bin", "usr/bin"})
            QVERIFY(QDir(folder.path()).mkpath(dir));
        QVERIFY(QFile::link(folder.path("usr/bin"), folder.path("bin"))); // merged /usr
        const InstallLayout layout{folder.path("usr/bin"), folder.path("var/lib/tarnowlock")};
        const WorkingFolder working = workingFolderFor(folder.path(executableDir), layout);
        QCOMPARE(working.path, folder.path(installed ? "var/lib/tarnowlock" : executableDir));
        QCOMPARE(working.installed, installed);
    }

    // pkexec stands in as a script: it "asks" for a while, then declines (126, as pkexec does) or
    // becomes the executable, as pkexec does after the password.
    void startElevatedKeepsTheEventLoopTurning_data()
    {
        QTest::addColumn<QByteArray>("prompt");
        QTest::addColumn<bool>("started");
        QTest::newRow("accepted, the display's X authority passed on")
            << QByteArray("sleep 0.5; [[ \" $* \" == *' XAUTHORITY=/x '* ]] && exec -a \"${@: -1}\" sleep 3")
            << true;
        QTest::newRow("declined") << QByteArray("sleep 0.5; exit 126") << false;
        QTest::newRow("no pkexec") << QByteArray() << false;
    }
    void startElevatedKeepsTheEventLoopTurning()
    {
        QFETCH(QByteArray, prompt);
        QFETCH(bool, started);
        qputenv("XAUTHORITY", "/x"); // pkexec clears it, so a copy that is not installed hands it on
        const auto restore = qScopeGuard([] { qunsetenv("XAUTHORITY"); });
        ProgramFolder folder;
        LinuxPaths paths;
        paths.pkexec = folder.path("pkexec");
        QVERIFY(prompt.isEmpty() ||
                (writeWholeFile(paths.pkexec, "#!/bin/bash\n" + prompt + '\n') &&
                 QFile::setPermissions(paths.pkexec, QFile::ReadOwner | QFile::ExeOwner)));
        LinuxPlatform platform(paths);
        std::optional<bool> outcome;
        int turns = 0;
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, [&] { ++turns; });
        ticks.start(10);
        platform.startElevated(folder.path("tarnowlock"), [&](bool result) { outcome = result; });
        QVERIFY(!outcome); // answered only from the event loop
        QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 10000);
        QCOMPARE(*outcome, started);
        if (!prompt.isEmpty())
            QVERIFY2(turns > 10, "the event loop stood still while the prompt was open");
    }

    void defaultEditorIsATextEditorOnPath()
    {
        ProgramFolder folder;
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        qputenv("PATH", QFile::encodeName(folder.path()));
        QCOMPARE(LinuxPlatform().defaultEditor(), "xdg-open"); // the last resort
        QVERIFY(writeWholeFile(folder.path("mousepad"), "") &&
                QFile::setPermissions(folder.path("mousepad"), QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(LinuxPlatform().defaultEditor(), "mousepad");
    }

    // Root writes for user 4242, who elevated, in their temporary home, where they planted `planted`.
    void startupEntry_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("reason"); // a part of it; empty: done
        QTest::newRow("written for the user") << "" << true << "";
        QTest::newRow("removed again") << "entry" << false << "";
        QTest::newRow("nothing to remove") << "" << false << "";
        QTest::newRow("nothing to remove beside a leftover") << "leftover" << false << "";
        QTest::newRow("entry links to a root-only file")
            << "entry link" << true << "/.config/autostart/Tarnowlock.desktop' is a symbolic link";
        QTest::newRow("autostart links to a folder of the user's elsewhere")
            << "folder link" << true << "/.config/autostart' is a symbolic link";
        QTest::newRow("a leftover of a write cut short") << "leftover" << true << "";
        QTest::newRow("~/.config owned by root") << "root config" << true << "/.config' is not owned by 4242";
        QTest::newRow("through sudo as user 4343, then pkexec") << "sudo" << true << "";
    }
    void startupEntry()
    {
        QFETCH(QString, planted);
        QFETCH(bool, enabled);
        QFETCH(QString, reason);
        if (::geteuid() != 0)
            TARNOWLOCK_SKIP("writing for another user needs root");
        qputenv("PKEXEC_UID", "4242");
        qputenv("SUDO_UID", planted == "sudo" ? "4343" : "");
        const auto restore = qScopeGuard([] { qunsetenv("PKEXEC_UID"), qunsetenv("SUDO_UID"); });
        const auto byUser = [](const QString &path) {
            return ::lchown(QFile::encodeName(path).constData(), 4242, 4242) == 0;
        };
        const auto ownerOf = [](const QString &path) {
            struct stat status = {};
            return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? qint64(status.st_uid) : -1;
        };
        SharedTemporaryDir home;
        SharedTemporaryDir outside; // root's, but for the row that hands it to the user
        const QString secret = outside.filePath("secret"), config = home.filePath(".config"),
                      autostart = config + "/autostart", entry = autostart + "/Tarnowlock.desktop";
        QVERIFY(writeWholeFile(secret, "root's\n") && byUser(home.path()));
        if (planted == "root config" || planted == "folder link")
            QVERIFY(QDir().mkdir(config) && ::chmod(qPrintable(config), 0755) == 0 &&
                    (planted == "root config" || byUser(config)));
        if (planted == "folder link") // followed, it would lead where the user may write
            QVERIFY(QFile::link(outside.path(), autostart) && byUser(autostart) && byUser(outside.path()));
        if (planted == "leftover")
            QVERIFY(QDir().mkpath(autostart) && byUser(config) && byUser(autostart) &&
                    writeWholeFile(autostart + "/.Tarnowlock.desktop.part", "cut") &&
                    byUser(autostart + "/.Tarnowlock.desktop.part"));
        if (planted == "entry link")
            QVERIFY(QDir().mkpath(autostart) && byUser(config) && byUser(autostart) &&
                    QFile::link(secret, entry) && byUser(entry));

        LinuxPaths paths;
        paths.userHome = home.path();
        LinuxPlatform platform(paths);
        const QString executable = QStringLiteral("/opt/my \"$`100%\\/t");
        if (planted == "entry")
            QCOMPARE(platform.setStartupEntry(true, executable), QString());
        const QString result = platform.setStartupEntry(enabled, executable);
        QVERIFY2(reason.isEmpty() ? result.isEmpty() : result.contains(reason), qPrintable(result));

        const bool written = enabled && reason.isEmpty();
        QCOMPARE(
            readWholeFile(entry).contains("\nExec=\"/opt/my \\\\\"\\\\$\\\\`100%%\\\\\\\\/t\" -silent\n"),
            written);
        for (const QString &path : {config, autostart, entry})
            QVERIFY(!written || ownerOf(path) == 4242);
        QVERIFY(enabled || ownerOf(entry) == -1);
        QVERIFY(ownerOf(entry) != 0);
        QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"secret"});
        QCOMPARE(readWholeFile(secret), "root's\n");
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
