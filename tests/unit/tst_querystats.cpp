#include "dns/QueryStats.h"

#include <QTest>

#include <numeric>

// An epoch minute of 2025: counts start from a clock of that size.
constexpr qint64 start = 29'000'000;

class TestQueryStats : public QObject {
    Q_OBJECT

private slots:
    void countsEachMinute_data()
    {
        QTest::addColumn<QList<int>>("steps"); // the clock's move before each burst, in minutes
        QTest::addColumn<QList<int>>("answered");
        QTest::addColumn<QList<int>>("passed");
        QTest::addColumn<QList<int>>("ages"); // the minutes each burst ends up before the current; -1: gone
        QTest::newRow("one minute") << QList{0} << QList{5} << QList{2} << QList{0};
        QTest::newRow("same minute twice") << QList{0, 0} << QList{2, 3} << QList{1, 0} << QList{0, 0};
        QTest::newRow("three minutes")
            << QList{0, 1, 1} << QList{3, 0, 7} << QList{1, 4, 0} << QList{2, 1, 0};
        QTest::newRow("59 minutes on, still in")
            << QList{0, 59} << QList{4, 5} << QList{1, 2} << QList{59, 0};
        QTest::newRow("an hour on, gone") << QList{0, 60} << QList{4, 5} << QList{1, 2} << QList{-1, 0};
        QTest::newRow("an hour after two minutes")
            << QList{0, 1, 60} << QList{4, 5, 6} << QList{1, 1, 1} << QList{-1, -1, 0};
        QTest::newRow("a day on") << QList{0, 1, 1440, 1} << QList{4, 5, 6, 7} << QList{1, 2, 3, 0}
                                  << QList{-1, -1, 1, 0};
        // A clock set back goes on in a new minute (in the current one for a step of one); the history
        // stays.
        QTest::newRow("clock set back an hour")
            << QList{0, 1, -60, 0, 1} << QList{2, 3, 4, 5, 6} << QList{1, 0, 1, 0, 2} << QList{3, 2, 1, 1, 0};
        QTest::newRow("clock set back, then on")
            << QList{0, -10, 3} << QList{2, 3, 4} << QList{1, 0, 1} << QList{4, 3, 0};
        QTest::newRow("clock set back a minute")
            << QList{0, -1, 1, 1} << QList{2, 3, 4, 5} << QList{1, 0, 1, 0} << QList{2, 2, 1, 0};
    }
    void countsEachMinute()
    {
        QFETCH(QList<int>, steps);
        QFETCH(QList<int>, answered);
        QFETCH(QList<int>, passed);
        QFETCH(QList<int>, ages);
        QueryStats stats;
        std::array<quint64, QueryStats::minutes> expectAnswered{}, expectPassed{};
        qint64 minute = start;
        for (qsizetype burst = 0; burst < steps.size(); ++burst) {
            stats.setMinute(minute += steps[burst]);
            for (int question = 0; question < answered[burst]; ++question)
                stats.answered("example.com");
            for (int question = 0; question < passed[burst]; ++question)
                stats.passedOn();
            if (ages[burst] >= 0) {
                expectAnswered[QueryStats::minutes - 1 - ages[burst]] += answered[burst];
                expectPassed[QueryStats::minutes - 1 - ages[burst]] += passed[burst];
            }
        }
        const QueryStats::Hour hour = stats.lastHour();
        QCOMPARE(hour.answered, expectAnswered);
        QCOMPARE(hour.passed, expectPassed);
        const quint64 total = std::accumulate(expectAnswered.begin(), expectAnswered.end(), quint64(0));
        QCOMPARE(hour.totalAnswered, total);
        QCOMPARE(hour.totalPassed, std::accumulate(expectPassed.begin(), expectPassed.end(), quint64(0)));
        QCOMPARE(hour.top.value(0).second, total); // the name's count leaves with its minutes
    }

    void topNames_data()
    {
        QTest::addColumn<QByteArrayList>("asked"); // "+": the next minute
        QTest::addColumn<int>("topCount");
        QTest::addColumn<QStringList>("top");
        QTest::newRow("most first") << QByteArrayList{"b", "a", "b", "c", "b", "a"} << 10
                                    << QStringList{"b=3", "a=2", "c=1"};
        QTest::newRow("ties by name")
            << QByteArrayList{"c", "b", "a", "c", "a", "b"} << 10 << QStringList{"a=2", "b=2", "c=2"};
        QTest::newRow("case-insensitive")
            << QByteArrayList{"Ex.COM", "z", "ex.com", "EX.com"} << 10 << QStringList{"ex.com=3", "z=1"};
        QTest::newRow("topCount") << QByteArrayList{"a", "a", "a", "b", "b", "c"} << 2
                                  << QStringList{"a=3", "b=2"};
        QTest::newRow("topCount 0") << QByteArrayList{"a"} << 0 << QStringList();
        QTest::newRow("across minutes")
            << QByteArrayList{"a", "+", "a", "b", "+", "b", "b"} << 10 << QStringList{"b=3", "a=2"};
    }
    void topNames()
    {
        QFETCH(QByteArrayList, asked);
        QFETCH(int, topCount);
        QFETCH(QStringList, top);
        QueryStats stats;
        qint64 minute = start;
        stats.setMinute(minute);
        for (const QByteArray &name : asked) {
            if (name == "+")
                stats.setMinute(++minute);
            else
                stats.answered(name);
        }
        QStringList shown;
        for (const auto &[name, count] : stats.lastHour(topCount).top)
            shown << QString::fromLatin1(name) + '=' + QString::number(count);
        QCOMPARE(shown, top);
    }

    // 30 hours of a flood of names never asked twice; from a third of each minute on, when the minute's
    // names are full, every other question is for one name.
    void floodKeepsMemoryBoundAndHeavyName()
    {
        constexpr int perMinute = 3000;
        QueryStats stats;
        quint64 flood = 0;
        for (qint64 minute = start; minute < start + 30 * 60; ++minute) {
            stats.setMinute(minute);
            for (int question = 0; question < perMinute; ++question) {
                const bool heavy = question >= perMinute / 3 && question % 2;
                stats.answered(heavy ? QByteArray("Heavy.example") : "flood" + QByteArray::number(++flood));
            }
            QVERIFY(stats.trackedNames() <= std::size_t(QueryStats::minutes * QueryStats::namesPerMinute));
        }
        const QueryStats::Hour hour = stats.lastHour(2);
        QCOMPARE(hour.totalAnswered, quint64(QueryStats::minutes * perMinute));
        QCOMPARE(hour.top.size(), 2);
        QCOMPARE(hour.top[0].first, "heavy.example");
        // A summary of k names undercounts a name by at most a minute's questions / (k + 1).
        const quint64 heavy = QueryStats::minutes * perMinute / 3;
        QVERIFY(hour.top[0].second <= heavy);
        QVERIFY(hour.top[0].second >=
                heavy - QueryStats::minutes * (perMinute / (QueryStats::namesPerMinute + 1)));
        QCOMPARE(hour.top[1].second, quint64(1)); // a flood name, asked once
    }
};

QTEST_GUILESS_MAIN(TestQueryStats)
#include "tst_querystats.moc"
