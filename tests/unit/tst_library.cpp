#include "options/HostsLibrary.h"
#include "options/UpdateReport.h"
#include "options/UpdateTarget.h"
#include "settings/UpdateSchedule.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>

class TestLibrary : public QObject {
    Q_OBJECT

private slots:
    void reconcile_data()
    {
        QTest::addColumn<QString>("onDisk"); // a name ending in '/' is a folder
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected"); // '*': a new entry, unselected and without a source
        const auto row = [](const char *name, const char *onDisk, const char *stored, const char *expected) {
            QTest::newRow(name) << QString(onDisk) << QString(stored) << QString(expected);
        };
        row("only *.hosts files, sorted without case",
            "b.hosts C.hosts a.hosts notes.txt hosts x.hosts.bak d.hosts/", "", "a.hosts* b.hosts* C.hosts*");
        row("stored order kept, new files after", "a.hosts m.hosts z.hosts", "z.hosts a.hosts",
            "z.hosts a.hosts m.hosts*");
        row("lists whose file was deleted leave", "b.hosts", "a.hosts b.hosts c.hosts", "b.hosts");
        // '?': never updated, '!': never updated and without a source
        row("lists awaiting their first update stay", "", "a.hosts? b.hosts! c.hosts c.hosts?",
            "a.hosts c.hosts");
    }
    void reconcile()
    {
        QFETCH(QString, onDisk);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        ProgramFolder folder;
        for (const QString &name : onDisk.split(' ', Qt::SkipEmptyParts))
            QVERIFY(name.endsWith('/') ? QDir().mkdir("hosts/" + name) : writeWholeFile("hosts/" + name, ""));
        HostsList list;
        for (QString name : stored.split(' ', Qt::SkipEmptyParts)) {
            const bool never = name.endsWith('?') || name.endsWith('!'), sourceless = name.endsWith('!');
            name.remove(QRegularExpression("[?!]$"));
            list.push_back(std::make_unique<HostsEntry>(
                HostsEntry{true, name, sourceless ? QUrl() : QUrl("http://lists.test/" + name),
                           never ? QDateTime() : QDate(2024, 3, 1).startOfDay(), 7}));
        }
        reconcileHostsList(list, listHostsFiles("hosts"));
        QStringList described;
        for (const std::unique_ptr<HostsEntry> &entry : list)
            described << entry->name + (entry->selected || entry->updateUrl.isValid() ? "" : "*");
        QCOMPARE(described.join(' '), expected);
    }
    void isUpdateDue_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<QDateTime>("lastUpdate");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<bool>("due");
        const QDate day(2024, 2, 28); // a week from it crosses the leap day
        const QDateTime never, morning(day, QTime(9, 0)), lateEvening(day, QTime(23, 59, 59));
        QTest::newRow("-1, never updated") << -1 << never << day << false;
        QTest::newRow("7, never updated") << 7 << never << day << true;
        QTest::newRow("0, updated this evening") << 0 << lateEvening << day << true;
        QTest::newRow("1, updated late yesterday") << 1 << lateEvening << day.addDays(1) << true;
        QTest::newRow("7, one day short") << 7 << morning << QDate(2024, 3, 5) << false;
        QTest::newRow("7, on the day") << 7 << lateEvening << QDate(2024, 3, 6) << true;
    }
    void isUpdateDue()
    {
        QFETCH(int, frequency);
        QFETCH(QDateTime, lastUpdate);
        QFETCH(QDate, today);
        QFETCH(bool, due);
        QCOMPARE(::isUpdateDue(HostsEntry{false, "a.hosts", QUrl(), lastUpdate, frequency}, today), due);
    }
    void updateTarget()
    {
        ProgramFolder folder; // names that are no plain file names: see libraryPath()
        QVERIFY(folder.isValid() && QFile::link("/etc/hosts", "hosts/out.hosts"));
        QCOMPARE(::updateTarget("new.hosts"), "./hosts/new.hosts");
        QVERIFY(::updateTarget("out.hosts").isEmpty()); // the new content would land outside the library
    }
    void applyRounds_data()
    {
        QTest::addColumn<QByteArray>("cut");   // taken out of the system hosts file after the first apply
        QTest::addColumn<QByteArray>("added"); // then appended to it, as a user would
        QTest::addColumn<QByteArray>("kept");  // the lines before the list's block at the end
        const QByteArray own = "127.0.0.1 localhost\n", mine = "10.0.0.1 nas\n";
        QTest::newRow("same bytes every round") << QByteArray() << QByteArray() << own;
        QTest::newRow("a user's line kept once") << QByteArray() << mine << own + mine;
        QTest::newRow("end marker deleted: lines kept")
            << QByteArray("# <<< Tarnowlock: a.hosts\n") << mine
            << own + "# >>> Tarnowlock: a.hosts\n0.0.0.0 ad.test\n" + mine;
        QTest::newRow("another list's end marker: lines kept")
            << QByteArray("# <<< Tarnowlock: a.hosts\n") << QByteArray("# <<< Tarnowlock: b.hosts\n")
            << own + "# >>> Tarnowlock: a.hosts\n0.0.0.0 ad.test\n# <<< Tarnowlock: b.hosts\n";
        QTest::newRow("a user's line without its line feed") << QByteArray() << mine.chopped(1) << own + mine;
    }
    void applyRounds() // start (default.hosts refreshed), apply, quit; three times
    {
        QFETCH(QByteArray, cut);
        QFETCH(QByteArray, added);
        QFETCH(QByteArray, kept);
        QTemporaryDir dir;
        const QString system = dir.filePath("hosts"), own = dir.filePath("default.hosts");
        QVERIFY(writeWholeFile(system, "127.0.0.1 localhost\n"));
        QList<QByteArray> written;
        for (int round = 0; round < 3; ++round) {
            QVERIFY(writeWholeFile(own, readWholeFile(system)) && dropAppliedLists(own)); // the refresh
            written << appliedHosts(
                {{"default.hosts", readWholeFile(own)}, {"a.hosts", "0.0.0.0 ad.test\n"}});
            QVERIFY(writeWholeFile(system, round ? written.last() : written.last().replace(cut, "") + added));
        }
        QCOMPARE(written.at(1), written.at(2));
        QCOMPARE(written.at(2),
                 kept + "# >>> Tarnowlock: a.hosts\n0.0.0.0 ad.test\n# <<< Tarnowlock: a.hosts\n");
    }
    void failureBox() // only a failed source interrupts, and only an update the user started
    {
        for (auto outcome : {UpdateOutcome::Updated, UpdateOutcome::Canceled, UpdateOutcome::SaveFailed,
                             UpdateOutcome::Failed})
            QCOMPARE(updateNeedsFailureBox(outcome, false), outcome == UpdateOutcome::Failed);
        QVERIFY(!updateNeedsFailureBox(UpdateOutcome::Failed, true));
        const QString shown =
            QTextDocumentFragment::fromHtml(updateFailureBoxText("a<b>&c.hosts")).toPlainText();
        QVERIFY2(shown.contains("updating a<b>&c.hosts."), qPrintable(shown)); // the name as it is
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"
