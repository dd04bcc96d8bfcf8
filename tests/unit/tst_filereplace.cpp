#include "platform/FileReplace.h"
#include "tests/support/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestFileReplace : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString path(const QString &name) const { return dir.filePath(name); }

private slots:
    void concatenates_data()
    {
        QTest::addColumn<QList<QByteArray>>("parts");
        QTest::newRow("one source") << QList<QByteArray>{"127.0.0.1 a\n"};
        QTest::newRow("three in order") << QList<QByteArray>{"1\n", "2\r\n", "3"};
        QTest::newRow("bytes kept as they are")
            << QList<QByteArray>{QByteArray("\xef\xbb\xbfx\0y", 6), "\xff\xfe"};
        QTest::newRow("empty sources") << QList<QByteArray>{"", ""};
        QTest::newRow("larger than one chunk")
            << QList<QByteArray>{QByteArray(3 << 20, 'a'), QByteArray(5, 'b')};
    }
    void concatenates()
    {
        QFETCH(QList<QByteArray>, parts);
        QStringList sources;
        QByteArray expected;
        for (int i = 0; i < parts.size(); ++i) {
            sources << path(QStringLiteral("part %1 & 'x'.hosts").arg(i));
            QVERIFY(writeWholeFile(sources.last(), parts.at(i)));
            expected += parts.at(i);
        }
        QVERIFY(writeWholeFile(path("target"), "old content\n"));
        QString error;
        QVERIFY2(replaceFileWith(path("target"), sources, &error), qPrintable(error));
        QCOMPARE(readWholeFile(path("target")), expected);
        const QStringList leftovers =
            QDir(dir.path()).entryList({QStringLiteral(".target*")}, QDir::Files | QDir::Hidden);
        QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(' ')));
    }

    void failureLeavesTheTargetWhole_data()
    {
        QTest::addColumn<QString>("missingSource");
        QTest::addColumn<QString>("inItsPlace"); // at the path of the source that is no file
        QTest::newRow("first source missing") << "first"
                                              << "";
        QTest::newRow("last source missing") << "last"
                                             << "";
        QTest::newRow("a folder as source") << "last"
                                            << "folder";
        // Reading it would wait for a writer that never comes.
        QTest::newRow("a named pipe as source") << "first"
                                                << "pipe";
    }
    void failureLeavesTheTargetWhole()
    {
        QFETCH(QString, missingSource);
        QFETCH(QString, inItsPlace);
        QFile::remove(path("absent")); // the rows share the folder
        QDir(dir.path()).rmdir(QStringLiteral("absent"));
        if (inItsPlace == QLatin1String("folder"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("absent")));
        else if (inItsPlace == QLatin1String("pipe"))
            QCOMPARE(mkfifo(QFile::encodeName(path("absent")).constData(), 0644), 0);
        QVERIFY(writeWholeFile(path("present"), "present\n"));
        const QStringList sources = missingSource == "first" ? QStringList{path("absent"), path("present")}
                                                             : QStringList{path("present"), path("absent")};
        QVERIFY(writeWholeFile(path("kept"), "the old hosts file\n"));
        QString error;
        QVERIFY(!replaceFileWith(path("kept"), sources, &error));
        QVERIFY(error.contains(QLatin1String("absent")));
        QCOMPARE(readWholeFile(path("kept")), QByteArray("the old hosts file\n"));
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral(".kept*")}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    void unwritableFolderLeavesTheTargetWhole()
    {
        QTemporaryDir locked;
        QVERIFY(writeWholeFile(locked.filePath("hosts"), "old\n"));
        QVERIFY(writeWholeFile(path("new"), "new\n"));
        // Root writes into read-only folders, but not into immutable ones.
        const bool root = ::geteuid() == 0;
        if (root && QProcess::execute("chattr", {"+i", locked.path()}) != 0)
            QSKIP("chattr +i is not available on this file system");
        if (!root)
            QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::ExeOwner);
        QString error;
        const bool replaced = replaceFileWith(locked.filePath("hosts"), {path("new")}, &error);
        if (root)
            QProcess::execute("chattr", {"-i", locked.path()});
        else
            QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!replaced);
        QVERIFY(!error.isEmpty());
        QCOMPARE(readWholeFile(locked.filePath("hosts")), QByteArray("old\n"));
    }

    void keepsPermissions()
    {
        QVERIFY(writeWholeFile(path("perm"), "old\n"));
        const QFile::Permissions wanted =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(path("perm"), wanted));
        QVERIFY(writeWholeFile(path("src"), "new\n"));
        QVERIFY(replaceFileWith(path("perm"), {path("src")}));
        QCOMPARE(QFile::permissions(path("perm")) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 wanted);
    }

    void newTargetIsReadableByAll()
    {
        QVERIFY(writeWholeFile(path("src2"), "x\n"));
        QVERIFY(replaceFileWith(path("fresh"), {path("src2")}));
        QVERIFY(QFile::permissions(path("fresh")) & QFile::ReadOther);
    }

    void linkStaysALink()
    {
        QDir(dir.path()).mkdir("real");
        QVERIFY(writeWholeFile(path("real/resolv.conf"), "nameserver 192.0.2.1\n"));
        QVERIFY(QFile::link(path("real/resolv.conf"), path("link.conf")));
        QVERIFY(writeWholeFile(path("src3"), "nameserver 127.0.0.1\n"));
        QVERIFY(replaceFileWith(path("link.conf"), {path("src3")}));
        QVERIFY(QFileInfo(path("link.conf")).isSymLink());
        QCOMPARE(readWholeFile(path("real/resolv.conf")), QByteArray("nameserver 127.0.0.1\n"));
    }
};

QTEST_MAIN(TestFileReplace)
#include "tst_filereplace.moc"
