#include "settings/HostsEntry.h"
#include "settings/UpdateSchedule.h"

#include <QTest>

class TestUpdateSchedule : public QObject {
    Q_OBJECT

private slots:
    void isUpdateDue_data();
    void isUpdateDue();
};

void TestUpdateSchedule::isUpdateDue_data()
{
    QTest::addColumn<int>("frequency");
    QTest::addColumn<QDateTime>("lastUpdate");
    QTest::addColumn<QDate>("today");
    QTest::addColumn<bool>("due");

    const QDateTime never;
    const QDateTime firstOfMarch(QDate(2024, 3, 1), QTime(9, 30));
    const QDateTime lateOnFirst(QDate(2024, 3, 1), QTime(23, 59, 59));

    QTest::newRow("-1, never updated") << -1 << never << QDate(2024, 3, 1) << false;
    QTest::newRow("-1, updated a year ago") << -1 << firstOfMarch << QDate(2025, 3, 1) << false;
    QTest::newRow("-5, never updated") << -5 << never << QDate(2024, 3, 1) << false;
    QTest::newRow("0, never updated") << 0 << never << QDate(2024, 3, 1) << true;
    QTest::newRow("0, updated today") << 0 << firstOfMarch << QDate(2024, 3, 1) << true;
    QTest::newRow("7, never updated") << 7 << never << QDate(2024, 3, 1) << true;
    QTest::newRow("366, never updated") << 366 << never << QDate(2024, 3, 1) << true;
    QTest::newRow("7, updated today") << 7 << firstOfMarch << QDate(2024, 3, 1) << false;
    QTest::newRow("7, one day short") << 7 << firstOfMarch << QDate(2024, 3, 7) << false;
    QTest::newRow("7, exactly on the boundary") << 7 << firstOfMarch << QDate(2024, 3, 8) << true;
    QTest::newRow("7, one day past") << 7 << firstOfMarch << QDate(2024, 3, 9) << true;
    QTest::newRow("7, late evening update, boundary") << 7 << lateOnFirst << QDate(2024, 3, 8) << true;
    QTest::newRow("7, across a month end, short")
        << 7 << QDateTime(QDate(2024, 1, 28), QTime(12, 0)) << QDate(2024, 2, 3) << false;
    QTest::newRow("7, across a month end, due")
        << 7 << QDateTime(QDate(2024, 1, 28), QTime(12, 0)) << QDate(2024, 2, 4) << true;
    QTest::newRow("1, updated yesterday") << 1 << firstOfMarch << QDate(2024, 3, 2) << true;
    QTest::newRow("366, leap year, short") << 366 << firstOfMarch << QDate(2025, 3, 1) << false;
    QTest::newRow("366, leap year, due") << 366 << firstOfMarch << QDate(2025, 3, 2) << true;
    QTest::newRow("7, last update in the future") << 7 << firstOfMarch << QDate(2024, 2, 1) << false;
    QTest::newRow("0, last update in the future") << 0 << firstOfMarch << QDate(2024, 2, 1) << false;
}

void TestUpdateSchedule::isUpdateDue()
{
    QFETCH(int, frequency);
    QFETCH(QDateTime, lastUpdate);
    QFETCH(QDate, today);
    QFETCH(bool, due);

    HostsEntry entry;
    entry.updateFrequency = frequency;
    entry.lastUpdate = lastUpdate;
    QCOMPARE(::isUpdateDue(entry, today), due);
}

QTEST_GUILESS_MAIN(TestUpdateSchedule)
#include "tst_updateschedule.moc"
