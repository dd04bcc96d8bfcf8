#include "options/UpdateTarget.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestUpdateTarget : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void target_data();
    void target();

private:
    QTemporaryDir dir;
    QString previousDir;
};

void TestUpdateTarget::initTestCase()
{
    QVERIFY(dir.isValid());
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(QDir().mkdir(QStringLiteral("hosts")));
    QFile plain(QStringLiteral("hosts/plain.hosts"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), QStringLiteral("hosts/outside.hosts")));
    QVERIFY(QFile::link(QStringLiteral("plain.hosts"), QStringLiteral("hosts/inside.hosts")));
}

void TestUpdateTarget::cleanupTestCase()
{
    QDir::setCurrent(previousDir);
}

void TestUpdateTarget::target_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");

    QTest::newRow("existing list") << QStringLiteral("plain.hosts") << QStringLiteral("./hosts/plain.hosts");
    QTest::newRow("list not yet on disk")
        << QStringLiteral("new.hosts") << QStringLiteral("./hosts/new.hosts");
    QTest::newRow("blanks and quotes")
        << QStringLiteral("my 'list'.hosts") << QStringLiteral("./hosts/my 'list'.hosts");
    QTest::newRow("parent folder") << QStringLiteral("../settings") << QString();
    QTest::newRow("absolute path") << QStringLiteral("/etc/hosts") << QString();
    QTest::newRow("subfolder") << QStringLiteral("a/b.hosts") << QString();
    QTest::newRow("backslash") << QStringLiteral("..\\b.hosts") << QString();
    QTest::newRow("dot") << QStringLiteral(".") << QString();
    QTest::newRow("dot dot") << QStringLiteral("..") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("link out of the library") << QStringLiteral("outside.hosts") << QString();
    QTest::newRow("link inside the library") << QStringLiteral("inside.hosts") << QString();
}

void TestUpdateTarget::target()
{
    QFETCH(QString, name);
    QFETCH(QString, path);

    QCOMPARE(updateTarget(name), path);
}

QTEST_GUILESS_MAIN(TestUpdateTarget)
#include "tst_updatetarget.moc"
