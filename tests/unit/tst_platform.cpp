#include "platform/LinuxDesktopUser.h"
#include "platform/LinuxPlatform.h"
#include "platform/WindowsCommands.h"
#include "tests/support/TestFiles.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <optional>
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
        QTest::newRow("accepted") << QByteArray("sleep 0.5; exec -a \"${@: -1}\" sleep 3") << true;
        QTest::newRow("declined") << QByteArray("sleep 0.5; exit 126") << false;
        QTest::newRow("no pkexec") << QByteArray() << false;
    }
    void startElevatedKeepsTheEventLoopTurning()
    {
        QFETCH(QByteArray, prompt);
        QFETCH(bool, started);
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

    void startupEntry_data()
    {
        QTest::addColumn<QByteArray>("elevatingUser"); // PKEXEC_UID; none: root's own
        QTest::addColumn<QString>("home");
        QTest::newRow("the user who elevated") << QByteArray("2") << "/bin";
        QTest::newRow("not elevated") << QByteArray() << "/root";
    }
    void startupEntry()
    {
        QFETCH(QByteArray, elevatingUser);
        QFETCH(QString, home);
        if (::geteuid() != 0)
            QSKIP("writing for another user needs root");
        qputenv("PKEXEC_UID", elevatingUser);
        const auto restore = qScopeGuard([] { qunsetenv("PKEXEC_UID"); });
        QCOMPARE(desktopUser().home, home); // ~/.config/autostart of that user, when not redirected

        ProgramFolder folder;
        LinuxPaths paths;
        paths.userAutostartDir = folder.path("config/autostart");
        const QString entry = folder.path("config/autostart/Tarnowlock.desktop");
        LinuxPlatform platform(paths);
        platform.setStartupEntry(true, QStringLiteral("/opt/my \"$`100%\\/t"));
        QVERIFY(
            readWholeFile(entry).contains("\nExec=\"/opt/my \\\\\"\\\\$\\\\`100%%\\\\\\\\/t\" -silent\n"));
        for (const QString &path : {folder.path("config"), folder.path("config/autostart"), entry})
            QCOMPARE(QFileInfo(path).ownerId(), elevatingUser.toUInt());
        platform.setStartupEntry(false, QString());
        QVERIFY(!QFileInfo::exists(entry));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
