#include "app/HostsFiles.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestHostsFiles : public QObject {
    Q_OBJECT

private slots:
    void quoted_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QStringList{} << "\"\"";
        QTest::newRow("one") << QStringList{"a.hosts"} << "\"a.hosts\"";
        QTest::newRow("two") << QStringList{"a.hosts", "b.hosts"} << "\"a.hosts, b.hosts\"";
    }
    void quoted()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, expected);
        QCOMPARE(quotedSelection(names), expected);
    }

    void libraryPaths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "mvps.hosts"
                               << "./hosts/mvps.hosts";
        QTest::newRow("blank and shell characters") << "my & 'x' $(y).hosts"
                                                    << "./hosts/my & 'x' $(y).hosts";
        QTest::newRow("parent folder") << "../settings"
                                       << "";
        QTest::newRow("absolute") << "/etc/passwd"
                                  << "";
        QTest::newRow("backslash") << "..\\x"
                                   << "";
        QTest::newRow("dot dot") << ".."
                                 << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void libraryPaths()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(libraryPath(name), expected);
    }

    void importThreeOfWhichTheSecondExists()
    {
        QTemporaryDir source;
        QTemporaryDir library;
        QVERIFY(writeWholeFile(source.filePath("one.hosts"), "1\n"));
        QVERIFY(writeWholeFile(source.filePath("two.hosts"), "new 2\n"));
        QVERIFY(writeWholeFile(source.filePath("three & 'x'.hosts"), "3\n"));
        QVERIFY(writeWholeFile(library.filePath("two.hosts"), "old 2\n"));
        RecordingLog log;
        importHostsFiles({source.filePath("one.hosts"), source.filePath("two.hosts"),
                          source.filePath("three & 'x'.hosts")},
                         library.path(), log);
        QCOMPARE(log.lines,
                 (QStringList{"2 'one.hosts' imported successfully!", "3 'two.hosts' import failed!",
                              "2 'three & 'x'.hosts' imported successfully!"}));
        QCOMPARE(readWholeFile(library.filePath("one.hosts")), QByteArray("1\n"));
        QCOMPARE(readWholeFile(library.filePath("two.hosts")), QByteArray("old 2\n"));
        QCOMPARE(readWholeFile(library.filePath("three & 'x'.hosts")), QByteArray("3\n"));
    }

    void importOfAnUnreadableFileFails()
    {
        QTemporaryDir library;
        RecordingLog log;
        importHostsFiles({library.filePath("missing.hosts")}, library.path(), log);
        QCOMPARE(log.lines, QStringList{"3 'missing.hosts' import failed!"});
        QVERIFY(!QFile::exists(library.filePath("missing.hosts")));
    }

    void importOfNothingLogsNothing()
    {
        RecordingLog log;
        importHostsFiles({}, QDir::tempPath(), log);
        QVERIFY(log.lines.isEmpty());
    }
};

QTEST_MAIN(TestHostsFiles)
#include "tst_hostsfiles.moc"
