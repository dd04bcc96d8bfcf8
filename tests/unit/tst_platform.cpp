#include "platform/LinuxPlatform.h"
#include "platform/WindowsCommands.h"
#include "tests/support/TestFiles.h"

#include <QFileInfo>
#include <QTest>

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void windowsCopyCommand_data()
    {
        QTest::addColumn<QStringList>("sources"); // copied over C:/x y
        QTest::addColumn<QString>("command");     // empty: refused
        QTest::newRow("two lists") << QStringList{"h/a", "b"} << R"("copy "h\a" /B + "b" /B "C:\x y" /Y")";
        QTest::newRow("& | ^ quoted") << QStringList{"a & | ^ b"} << R"("copy "a & | ^ b" /B "C:\x y" /Y")";
        QTest::newRow("quote would end the quoting") << QStringList{"a\" & calc & \""} << "";
        QTest::newRow("percent sign would expand") << QStringList{"%PATH%"} << "";
        QTest::newRow("line feed would end the command") << QStringList{"a\ncalc"} << "";
        QTest::newRow("no list") << QStringList() << "";
    }
    void windowsCopyCommand()
    {
        QFETCH(QStringList, sources);
        QFETCH(QString, command);
        QCOMPARE(::windowsCopyCommand(sources, "C:/x y"), command);
    }

    void linuxStartupEntryQuotesItsCommand()
    {
        ProgramFolder folder;
        LinuxPaths paths;
        paths.userAutostartDir = paths.systemAutostartDir = folder.path(QStringLiteral("autostart"));
        const QString entry = folder.path(QStringLiteral("autostart/Tarnowlock.desktop"));
        LinuxPlatform platform(paths);
        platform.setStartupEntry(true, QStringLiteral("/opt/my \"$`100%/t"));
        QVERIFY(readWholeFile(entry).contains("\nExec=\"/opt/my \\\"\\$\\`100%%/t\" -silent\n"));
        platform.setStartupEntry(false, QString());
        QVERIFY(!QFileInfo::exists(entry));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
