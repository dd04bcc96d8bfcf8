#include "settings/SettingsStore.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/SqlFile.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QTest>

using Result = SettingsStore::LoadResult;
const QString file = QStringLiteral("settings");
const QString createGeneral = QStringLiteral("create table General(Key char, Value char)");
const QString createHosts = QStringLiteral(
    "create table Hosts(Name char, Selected int, UpdateUrl char, LastUpdate char, UpdateFrequency int)");

// ./settings in a fresh program folder, the settings in memory reset to the defaults.
struct Fixture {
    ProgramFolder folder;
    RecordingLog log;
    SettingsStore store{file, QStringLiteral("file:///etc/hosts"), QStringLiteral("xdg-open")};
    Settings settings;
    Fixture() { store.setLogSink(&log), store.resetToDefaults(settings); }
    Result load() { return store.loadFromFile(settings); }
    QStringList rows(const char *t) const { return sqlRows(file, QStringLiteral("select * from ") + t); }
};

class TestSettingsStore : public QObject {
    Q_OBJECT

private slots:
    void firstStartCreatesDefaults()
    {
        Fixture f;
        QCOMPARE(f.load(), Result::Loaded);
        QCOMPARE(sqlRows(file, QStringLiteral("select sql from sqlite_master")).join(' ').toLower(),
                 (createGeneral + ' ' + createHosts).toLower());
        QCOMPARE(f.rows("General"), (QStringList{"Server|Wildcard", "Log|Detailed", "Editor|xdg-open",
                                                 "Launch|No", "Lists|Hosts file"}));
        QCOMPARE(f.rows("Hosts").first(), QStringLiteral("default.hosts|1|file:///etc/hosts||0"));
    }

    void storesValuesIntact_data()
    {
        QTest::addColumn<QString>("row"); // name|selected|source|last update|frequency, as the file keeps it
        QTest::newRow("quotes, percent signs") << "it's \"%1\" 100%|1|https://example.com/it's|2024-02-29|-1";
        QTest::newRow("SQL text") << "x', 0, '', 0); delete from Hosts; --|0||1999-12-31|2147483647";
        QTest::newRow("marks and backslash") << "? :name @p a\\b|1|file:///C:/a b/hosts||366";
        QTest::newRow("blanks and unicode") << QStringLiteral(" Łódź ホスト |0|https://example.com/ホ||0");
        QTest::newRow("empty") << "|0|||7";
    }
    void storesValuesIntact()
    {
        QFETCH(QString, row);
        const QStringList value = row.split('|');
        const QDateTime lastUpdate = QDate::fromString(value[3], Qt::ISODate).startOfDay().addSecs(86399);
        Fixture f;
        QCOMPARE(f.load(), Result::Loaded);
        f.settings.generalSettings[SettingKey::editor] = value[0];
        f.settings.hostsList.push_back(std::make_unique<HostsEntry>(
            HostsEntry{value[1] == "1", value[0], QUrl(value[2]), lastUpdate, value[4].toInt()}));
        QVERIFY(f.store.save(f.settings));
        QCOMPARE(f.rows("Hosts").last(), row);
        Settings reloaded;
        QCOMPARE(f.store.loadFromFile(reloaded), Result::Loaded);
        QCOMPARE(reloaded.generalSettings, f.settings.generalSettings);
        QVERIFY(f.store.save(reloaded)); // what was read is what was stored
        QCOMPARE(f.rows("Hosts").last(), row);
    }

    void damagedFileKeptAside_data()
    {
        QTest::addColumn<QStringList>("sql"); // none: a text file
        QTest::newRow("not SQLite") << QStringList();
        QTest::newRow("other tables") << QStringList{"create table Other(x int)"};
        QTest::newRow("Hosts missing") << QStringList{createGeneral};
        QTest::newRow("columns wrong") << QStringList{createGeneral, "create table Hosts(Name int)"};
    }
    void damagedFileKeptAside()
    {
        QFETCH(QStringList, sql);
        Fixture f;
        QVERIFY(sql.isEmpty() ? writeWholeFile(file, "Server=Wildcard\n") : runSql(file, sql).isEmpty());
        const QByteArray original = readWholeFile(file);
        QCOMPARE(f.load(), Result::Damaged);
        QVERIFY(f.log.lines.join(QString()).contains(QLatin1String("is damaged")));
        QVERIFY(f.settings.hostsList.empty());
        QCOMPARE(readWholeFile(file), original);
        QVERIFY(f.store.save(f.settings) && f.store.save(f.settings)); // the user's file kept aside once
        const QStringList kept = QDir().entryList({QStringLiteral("settings.damaged-*")});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(readWholeFile(kept.first()), original);
        QCOMPARE(f.load(), Result::Loaded);
    }

    // Odd values are read one by one as described, every other setting kept, the row named.
    void oddValuesReadPerValue_data()
    {
        QTest::addColumn<QString>("change"); // to a fresh file
        QTest::addColumn<QString>("read");   // the editor, or the added list: name|selected|source|frequency
        QTest::newRow("General row 3: NULL") << "update General set Value=null where Key='Editor'"
                                             << "";
        QTest::newRow("Hosts row 11: NULL") << "insert into Hosts values(null,1,'u','',7)"
                                            << "|1|u|7";
        QTest::newRow("Hosts row 11: no number") << "insert into Hosts values('a',1,'u','','x')"
                                                 << "a|1|u|0";
        QTest::newRow("Hosts row 11: NULLs") << "insert into Hosts values('a',1,null,null,7)"
                                             << "a|1||7";
    }
    void oddValuesReadPerValue()
    {
        QFETCH(QString, change);
        QFETCH(QString, read);
        Fixture f;
        QVERIFY(f.load() == Result::Loaded && runSql(file, {change}).isEmpty());
        Settings in;
        QCOMPARE(f.store.loadFromFile(in), Result::Loaded);
        const HostsEntry &last = *in.hostsList.back();
        const QStringList list{last.name, QString::number(last.selected), last.updateUrl.toString(),
                               QString::number(last.updateFrequency)};
        QCOMPARE(in.hostsList.size() == 10 ? in.getSetting(SettingKey::editor) : list.join('|'), read);
        const QString row = QString(QTest::currentDataTag()).section(':', 0, 0);
        QVERIFY(f.log.lines.join('\n').contains("'settings': " + row + " holds an odd value"));
    }

    void failedSaveLeavesFileAsItWas()
    {
        Fixture f;
        QCOMPARE(f.load(), Result::Loaded);
        // The third list's insert fails, after General and two lists were written.
        const char *trigger = "create trigger t before insert on Hosts when (select count(*) from Hosts) > 1 "
                              "begin select raise(abort, 'full'); end";
        QVERIFY(runSql(file, {trigger}).isEmpty());
        const QByteArray before = readWholeFile(file);
        f.settings.generalSettings[SettingKey::server] = QStringLiteral("Off");
        QVERIFY(!f.store.save(f.settings));
        QCOMPARE(readWholeFile(file), before);
        QVERIFY(f.log.lines.join(QString()).contains(QLatin1String("Save settings failed!")));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
