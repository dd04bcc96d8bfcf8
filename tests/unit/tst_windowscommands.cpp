#include "platform/WindowsCommands.h"

#include <QTest>

class TestWindowsCommands : public QObject {
    Q_OBJECT

private slots:
    void copyCommand_data()
    {
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("expected");
        const QString hosts = QStringLiteral("C:\\Windows\\System32\\drivers\\etc\\hosts");
        QTest::newRow("one list, no plus")
            << QStringList{".\\hosts\\a.hosts"} << hosts
            << "\"copy \".\\hosts\\a.hosts\" /B \"C:\\Windows\\System32\\drivers\\etc\\hosts\" /Y\"";
        QTest::newRow("two lists") << QStringList{".\\hosts\\a.hosts", ".\\hosts\\b.hosts"} << hosts
                                   << "\"copy \".\\hosts\\a.hosts\" /B + \".\\hosts\\b.hosts\" /B "
                                      "\"C:\\Windows\\System32\\drivers\\etc\\hosts\" /Y\"";
        QTest::newRow("blank in a name") << QStringList{".\\hosts\\my list.hosts"} << "C:\\x y\\t"
                                         << "\"copy \".\\hosts\\my list.hosts\" /B \"C:\\x y\\t\" /Y\"";
        QTest::newRow("ampersand stays inside quotes") << QStringList{".\\hosts\\a&calc.hosts"} << "t"
                                                       << "\"copy \".\\hosts\\a&calc.hosts\" /B \"t\" /Y\"";
        QTest::newRow("other shell characters") << QStringList{".\\hosts\\a|b;c'd$(e)^f.hosts"} << "t"
                                                << "\"copy \".\\hosts\\a|b;c'd$(e)^f.hosts\" /B \"t\" /Y\"";
        QTest::newRow("slashes become backslashes") << QStringList{"./hosts/a.hosts"} << "C:/t"
                                                    << "\"copy \".\\hosts\\a.hosts\" /B \"C:\\t\" /Y\"";
        QTest::newRow("a quote would end the quoting: refused")
            << QStringList{".\\hosts\\a\" & calc & \".hosts"} << "t"
            << "";
        QTest::newRow("a percent sign would expand: refused") << QStringList{".\\hosts\\%PATH%.hosts"} << "t"
                                                              << "";
        QTest::newRow("blanks and every shell character at once")
            << QStringList{".\\hosts\\ & | ; ' $ ( ) < > ^ `.hosts"} << "C:\\a b&c\\hosts"
            << "\"copy \".\\hosts\\ & | ; ' $ ( ) < > ^ `.hosts\" /B \"C:\\a b&c\\hosts\" /Y\"";
        QTest::newRow("a line feed would end the command: refused")
            << QStringList{".\\hosts\\a\n calc .hosts"} << "t"
            << "";
        QTest::newRow("a carriage return: refused") << QStringList{".\\hosts\\a\rcalc.hosts"} << "t"
                                                    << "";
        QTest::newRow("quote in the target: refused") << QStringList{"a"} << "t\""
                                                      << "";
        QTest::newRow("no source: refused") << QStringList{} << hosts << "";
        QTest::newRow("empty name: refused") << QStringList{""} << hosts << "";
    }
    void copyCommand()
    {
        QFETCH(QStringList, sources);
        QFETCH(QString, target);
        QFETCH(QString, expected);
        QCOMPARE(windowsCopyCommand(sources, target), expected);
    }
};

QTEST_MAIN(TestWindowsCommands)
#include "tst_windowscommands.moc"
