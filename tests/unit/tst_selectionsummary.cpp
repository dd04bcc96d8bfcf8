#include "app/SelectionSummary.h"

#include <QTest>

class TestSelectionSummary : public QObject {
    Q_OBJECT

private slots:
    void summary_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QStringList{} << "[]";
        QTest::newRow("one") << QStringList{"mvps.hosts"} << "[mvps.hosts]";
        QTest::newRow("two") << QStringList{"a.hosts", "b.hosts"} << "[a.hosts, b.hosts]";
        // "[" + 31 characters is 32: not longer than 32, so no cut.
        QTest::newRow("exactly 32") << QStringList{QString(31, 'x')} << "[" + QString(31, 'x') + "]";
        QTest::newRow("33 cuts after the name")
            << QStringList{QString(32, 'x'), "next.hosts"} << "[" + QString(32, 'x') + "...]";
        QTest::newRow("cut on the third name")
            << QStringList{"default.hosts", "mvps.hosts", "someone.hosts", "pgl.hosts"}
            << "[default.hosts, mvps.hosts, someone.hosts...]";
        QTest::newRow("one long name") << QStringList{QString(40, 'y')} << "[" + QString(40, 'y') + "...]";
    }
    void summary()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, expected);
        QCOMPARE(selectionSummary(names), expected);
    }
};

QTEST_MAIN(TestSelectionSummary)
#include "tst_selectionsummary.moc"
