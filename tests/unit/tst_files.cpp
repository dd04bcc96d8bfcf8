#include "app/HostsFiles.h"
#include "platform/FileReplace.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/Sandbox.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

const QByteArray oldContent("127.0.0.1 old.test\n0.0.0.0 *.old.test\n");

class TestFiles : public QObject {
    Q_OBJECT

private slots:
    void replace_data()
    {
        QTest::addColumn<QString>("target"); // file, link, bound onto itself (self) or from another file
        QTest::addColumn<QList<QByteArray>>("parts"); // "<missing>", "<folder>", "<pipe>": the replace fails
        const QList<QByteArray> longer{oldContent, "0.0.0.0 *.new.test\n"}, shorter{"1.2.3.4 a\n"};
        QTest::newRow("bytes kept, in order, over 1 MB")
            << "file" << QList<QByteArray>{QByteArray("\0\r\n\xff", 4), QByteArray(3 << 20, 'x'), ""};
        QTest::newRow("missing source") << "file" << QList<QByteArray>{"a\n", "<missing>"};
        QTest::newRow("folder as source") << "file" << QList<QByteArray>{"<folder>"};
        QTest::newRow("named pipe as source") << "file" << QList<QByteArray>{"<pipe>", "a\n"};
        QTest::newRow("link stays a link") << "link" << longer;
        for (const char *target : {"self", "other"}) {
            QTest::addRow("bound (%s), longer", target) << target << longer;
            QTest::addRow("bound (%s), shorter", target) << target << shorter;
        }
    }
    void replace()
    {
        QFETCH(QString, target);
        QFETCH(QList<QByteArray>, parts);
        QTemporaryDir dir;
        const QString real = dir.filePath("etc/hosts"), path = target == "link" ? dir.filePath("link") : real;
        QVERIFY(writeWholeFile(real, oldContent) && writeWholeFile(dir.filePath("other"), oldContent));
        QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        QVERIFY(target != "link" || QFile::link(real, path));
        // As a hosts file bound into a container: a rename over it fails with EBUSY.
        const bool bound = target == "self" || target == "other";
        const QString from = target == "other" ? dir.filePath("other") : real;
        QVERIFY(!bound || ::mount(qPrintable(from), qPrintable(real), nullptr, MS_BIND, nullptr) == 0);
        QStringList sources;
        QByteArray expected;
        for (const QByteArray &part : parts) {
            sources << dir.filePath(QString::number(sources.size()));
            if (part == "<folder>")
                QVERIFY(QDir().mkdir(sources.last()));
            else if (part == "<pipe>")
                QCOMPARE(::mkfifo(qPrintable(sources.last()), 0644), 0);
            else if (part != "<missing>")
                QVERIFY(writeWholeFile(sources.last(), part));
            expected += part;
        }
        const bool replaced = !expected.contains('<');
        const QFile::Permissions permissions = QFile::permissions(real);
        QCOMPARE(replaceFileWith(path, sources), replaced);
        QCOMPARE(readWholeFile(path), replaced ? expected : oldContent);
        QCOMPARE(QFile::permissions(real), permissions);
        QCOMPARE(QFileInfo(path).isSymLink(), target == "link");
        QCOMPARE(QDir(dir.filePath("etc")).entryList(QDir::Files | QDir::Hidden), QStringList{"hosts"});
        QVERIFY(!bound || ::umount(qPrintable(real)) == 0);
    }
    void killedWriter_data()
    {
        QTest::addColumn<int>("killAfterUs");
        for (int us = 200; us < 100'000; us = us * 13 / 10) // many points: a mix shows only mid-write
            QTest::addRow("killed after %d us", us) << us;
    }
    void killedWriter()
    {
        QFETCH(int, killAfterUs);
        QTemporaryDir dir;
        const QString hosts = dir.filePath("hosts");
        // Megabytes of different lengths, so that a part of either shows.
        const QByteArray lists[] = {QByteArray("0.0.0.0 *.a.test\n").repeated(200'000),
                                    QByteArray("0.0.0.0 *.bb.test\n").repeated(300'000)};
        QVERIFY(writeWholeFile(dir.filePath("0"), lists[0]) && writeWholeFile(dir.filePath("1"), lists[1]));
        const pid_t child = ::fork();
        if (child == 0) { // writes B, A, B... until killed
            for (int round = 1; round < 5000;)
                replaceFileWith(hosts, {dir.filePath(QString::number(round++ % 2))});
            ::_exit(0);
        }
        (void)QTest::qWaitFor([&] { return QFile::exists(hosts); }); // the child is under way
        ::usleep(useconds_t(killAfterUs)); // the point of the kill, not a wait for anything
        ::kill(child, SIGKILL);
        QCOMPARE(::waitpid(child, nullptr, 0), child);
        QVERIFY((QList<QByteArray>{lists[0], lists[1]}).contains(readWholeFile(hosts)));
    }
    void libraryPath_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("kept");
        for (const char *name : {"mvps.hosts", "my list & 'x' \"y\".hosts", " "})
            QTest::addRow("kept: <%s>", name) << QString::fromUtf8(name) << true;
        for (const char *name : {"../settings", "/etc/hosts", "a/b.hosts", "..\\x", "a\\b", "..", ".", ""})
            QTest::addRow("refused: <%s>", name) << QString::fromUtf8(name) << false;
    }
    void libraryPath()
    {
        QFETCH(QString, name);
        QFETCH(bool, kept);
        QCOMPARE(::libraryPath(name), kept ? hostsDir + name : QString());
    }
    void importHostsFiles()
    {
        QTemporaryDir dir; // the files to import in it, the library in lib/
        const QString taken = "a & 'b'.hosts", library = dir.filePath("lib/");
        QVERIFY(writeWholeFile(dir.filePath("1.hosts"), "1\n") &&
                writeWholeFile(dir.filePath(taken), "new\n"));
        QVERIFY(writeWholeFile(library + taken, "old\n"));
        RecordingLog log;
        ::importHostsFiles({dir.filePath("1.hosts"), dir.filePath(taken), dir.filePath("gone.hosts")},
                           library, log);
        // A list already in the library is never overwritten; each file gets a line of its own.
        QCOMPARE(readWholeFile(library + "1.hosts") + readWholeFile(library + taken), "1\nold\n");
        for (QString &line : log.lines) // level and name
            line.truncate(line.lastIndexOf('\'') + 1);
        QCOMPARE(log.lines, (QStringList{"2 '1.hosts'", "3 '" + taken + "'", "3 'gone.hosts'"}));
    }
};

TARNOWLOCK_SANDBOXED_TEST_MAIN(TestFiles) // the bind mounts need root and a mount namespace of their own
#include "tst_files.moc"
