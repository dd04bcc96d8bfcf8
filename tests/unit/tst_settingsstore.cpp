#include "settings/SettingsStore.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/SqlFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdio>

namespace {

const char saveForeverOption[] = "--save-forever";

const QString damagedLine = QStringLiteral("3 Settings file '%1' is damaged; using the built-in defaults");
const QString unreadableLine =
    QStringLiteral("3 Settings file '%1' cannot be read; using the built-in defaults");
const QString keptLine = QStringLiteral("6 The settings file that could not be read is kept as '%1'");
const QString saveFailedLine = QStringLiteral("3 Save settings failed! Please 'Run as administrator'");

// The create statements as SQLite keeps them: the rest verbatim after "CREATE TABLE", which it
// writes in capitals whatever the statement said.
const QStringList exactSchema = {
    QStringLiteral("table|General|CREATE TABLE General(Key char, Value char)"),
    QStringLiteral("table|Hosts|CREATE TABLE Hosts(Name char, Selected int, UpdateUrl char, LastUpdate char, "
                   "UpdateFrequency int)"),
};
const QStringList defaultGeneralRows = {
    QStringLiteral("Server|Wildcard"),
    QStringLiteral("Log|Detailed"),
    QStringLiteral("Editor|xdg-open"),
    QStringLiteral("Launch|No"),
};
const QStringList defaultHostsRows = {
    QStringLiteral("default.hosts|1|file:///etc/hosts||0"),
    QStringLiteral("hphosts.hosts|0|https://hosts-file.net/download/hosts.txt||-1"),
    QStringLiteral("IPV6.hosts|0|https://raw.githubusercontent.com/lennylxx/ipv6-hosts/master/hosts||7"),
    QStringLiteral("mvps.hosts|0|https://winhelp2002.mvps.org/hosts.txt||7"),
    QStringLiteral("someone.hosts|0|https://someonewhocares.org/hosts/hosts||7"),
    QStringLiteral("pgl.hosts|0|https://pgl.yoyo.org/adservers/serverlist.php?hostformat=hosts&showintro=0&"
                   "mimetype=plaintext||7"),
    QStringLiteral("sysctl.hosts|0|http://sysctl.org/cameleon/hosts||7"),
    QStringLiteral("mine.hosts|0|http://hostsfile.mine.nu/Hosts||7"),
    QStringLiteral("malware.hosts|0|https://www.malwaredomainlist.com/hostslist/hosts.txt||7"),
    QStringLiteral("adbin.hosts|0|https://adaway.org/hosts.txt||7"),
};
const QString createGeneral = QStringLiteral("create table General(Key char, Value char)");
const QString createHosts = QStringLiteral(
    "create table Hosts(Name char, Selected int, UpdateUrl char, LastUpdate char, UpdateFrequency int)");
const QStringList generalInserts = {
    QStringLiteral("insert into General values('Server', 'Wildcard')"),
    QStringLiteral("insert into General values('Log', 'Detailed')"),
    QStringLiteral("insert into General values('Editor', 'notepad.exe')"),
    QStringLiteral("insert into General values('Launch', 'No')"),
};
const QString hostsRow =
    QStringLiteral("insert into Hosts values('a.hosts', 1, 'http://example.com/a', '', 7)");

QStringList hostsRowsIn(const QString &file)
{
    return sqlRows(file,
                   QStringLiteral("select Name, Selected, UpdateUrl, LastUpdate, UpdateFrequency from Hosts "
                                  "order by rowid"));
}

QStringList generalRowsIn(const QString &file)
{
    return sqlRows(file, QStringLiteral("select Key, Value from General order by rowid"));
}

// Stored types of every Hosts row; a save must never write NULL where empty text belongs.
QStringList hostsTypesIn(const QString &file)
{
    return sqlRows(file, QStringLiteral("select distinct typeof(Name), typeof(Selected), typeof(UpdateUrl), "
                                        "typeof(LastUpdate), typeof(UpdateFrequency) from Hosts"));
}

QString describe(const HostsEntry &entry)
{
    return QStringList{
        entry.name, entry.selected ? QStringLiteral("1") : QStringLiteral("0"), entry.updateUrl.toString(),
        entry.lastUpdate.isValid() ? entry.lastUpdate.toString(QStringLiteral("yyyy-MM-dd")) : QString(),
        QString::number(entry.updateFrequency)}
        .join(QLatin1Char('|'));
}

QStringList describeHosts(const Settings &settings)
{
    QStringList lines;
    for (const std::unique_ptr<HostsEntry> &entry : settings.hostsList)
        lines << describe(*entry);
    return lines;
}

QStringList describe(const Settings &settings)
{
    QStringList lines;
    for (auto it = settings.generalSettings.cbegin(); it != settings.generalSettings.cend(); ++it)
        lines << it.key() + QLatin1Char('=') + it.value();
    return lines + describeHosts(settings);
}

std::unique_ptr<HostsEntry> entry(const QString &name, bool selected, const QString &url,
                                  const QDateTime &lastUpdate, int frequency)
{
    return std::make_unique<HostsEntry>(HostsEntry{selected, name, QUrl(url), lastUpdate, frequency});
}

// One of two contents that differ in every table, for the save that is killed.
Settings alternative(int which)
{
    Settings settings;
    settings.generalSettings = {
        {SettingKey::server, which ? QStringLiteral("Off") : QStringLiteral("Wildcard")},
        {SettingKey::log, QStringLiteral("Brief")},
        {SettingKey::editor, QStringLiteral("editor-%1").arg(which)},
        {SettingKey::launch, QStringLiteral("No")}};
    for (int i = 0; i < 40 + 30 * which; ++i)
        settings.hostsList.push_back(entry(QStringLiteral("list-%1-%2.hosts").arg(which).arg(i), i % 2,
                                           QStringLiteral("https://example.com/%1").arg(i), QDateTime(),
                                           which));
    return settings;
}

// The child process of the kill test: loads the file, says "ready", then saves the two
// alternatives over each other until it is killed.
[[noreturn]] void saveForever(const QString &file)
{
    const FakePlatform platform;
    SettingsStore store(file, platform.defaultHostsSource(), platform.defaultEditor());
    Settings settings;
    store.resetToDefaults(settings);
    store.loadFromFile(settings);
    const Settings first = alternative(0);
    const Settings second = alternative(1);
    std::puts("ready");
    std::fflush(stdout);
    while (true) {
        store.save(first);
        store.save(second);
    }
}

QByteArray randomBytes(int size)
{
    QRandomGenerator random(42);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// A sound settings file of many pages, as bytes, for the rows that damage it below SQL.
QByteArray soundDatabaseBytes()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("settings"));
    QStringList statements = {QStringLiteral("pragma page_size = 1024"), createGeneral, createHosts};
    statements += generalInserts;
    for (int i = 0; i < 200; ++i)
        statements << QStringLiteral(
                          "insert into Hosts values('list-%1.hosts', 0, 'https://example.com/%1', '', 7)")
                          .arg(i);
    if (!runSql(file, statements).isEmpty())
        return QByteArray();
    QFile database(file);
    database.open(QIODevice::ReadOnly);
    return database.readAll();
}

QByteArray readAll(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

bool writeAll(const QString &file, const QByteArray &content)
{
    QFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(content) == content.size();
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartCreatesDefaults();
    void loadsHostsRow_data();
    void loadsHostsRow();
    void missingEditorRowKeepsDefault();
    void extraKeyReadableUntilSave();
    void schemaInOtherLetterCaseLoads();
    void loadAppends();
    void savesEmptyHostsList();
    void storesValuesIntact_data();
    void storesValuesIntact();
    void saveWithoutFileWritesWholeDatabase();
    void failedSaveLeavesFileAsItWas();
    void creationFailureLeavesDefaults();
    void creationRefusesExistingFile();
    void damagedFileIsKeptAside_data();
    void damagedFileIsKeptAside();
    void earlierKeptCopiesStay();
    void unreadableFileIsNeverReplaced();
    void linesBeforeSinkAreDelivered();
    void killDuringSaveLeavesOldOrNew_data();
    void killDuringSaveLeavesOldOrNew();

private:
    void makeFile(const QStringList &statements);
    SettingsStore::LoadResult load();

    FakePlatform platform;
    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    std::unique_ptr<SettingsStore> store;
    RecordingLog log;
    Settings settings;
    Settings defaults;
};

void TestSettingsStore::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    path = dir->filePath(QStringLiteral("settings"));
    store = std::make_unique<SettingsStore>(path, platform.defaultHostsSource(), platform.defaultEditor());
    store->setLogSink(&log);
    log.lines.clear();
    store->resetToDefaults(settings);
    store->resetToDefaults(defaults);
}

void TestSettingsStore::cleanup()
{
    // Every operation closes and removes the default connection again.
    QVERIFY(!QSqlDatabase::contains());
    settings = Settings();
    store.reset();
    dir.reset();
}

void TestSettingsStore::makeFile(const QStringList &statements)
{
    const QString failure = runSql(path, statements);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

SettingsStore::LoadResult TestSettingsStore::load()
{
    return store->loadFromFile(settings);
}

void TestSettingsStore::firstStartCreatesDefaults()
{
    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);

    QCOMPARE(sqlRows(path, QStringLiteral("select type, name, sql from sqlite_master order by rowid")),
             exactSchema);
    QCOMPARE(generalRowsIn(path), defaultGeneralRows);
    QCOMPARE(hostsRowsIn(path), defaultHostsRows);
    QCOMPARE(hostsTypesIn(path), QStringList{QStringLiteral("text|integer|text|text|integer")});
    QCOMPARE(sqlRows(path, QStringLiteral("select typeof(Key), typeof(Value) from General")),
             QStringList(4, QStringLiteral("text|text")));

    QCOMPARE(settings.generalSettings,
             (QMap<QString, QString>{{QStringLiteral("Server"), QStringLiteral("Wildcard")},
                                     {QStringLiteral("Log"), QStringLiteral("Detailed")},
                                     {QStringLiteral("Editor"), QStringLiteral("xdg-open")},
                                     {QStringLiteral("Launch"), QStringLiteral("No")}}));
    QCOMPARE(describeHosts(settings), defaultHostsRows);
    for (const std::unique_ptr<HostsEntry> &entry : settings.hostsList)
        QVERIFY(entry->lastUpdate.isNull());
    QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("settings")});
    QVERIFY(log.lines.isEmpty());
}

void TestSettingsStore::loadsHostsRow_data()
{
    QTest::addColumn<QString>("values");
    QTest::addColumn<QString>("loaded");
    QTest::addColumn<QString>("saved");

    QTest::newRow("selected 1") << "('a.hosts', 1, 'http://example.com/a', '2024-02-29', 7)"
                                << "a.hosts|1|http://example.com/a|2024-02-29|7"
                                << "a.hosts|1|http://example.com/a|2024-02-29|7";
    QTest::newRow("selected 0") << "('a.hosts', 0, '', '', 7)"
                                << "a.hosts|0|||7"
                                << "a.hosts|0|||7";
    QTest::newRow("selected 2") << "('a.hosts', 2, '', '', 7)"
                                << "a.hosts|0|||7"
                                << "a.hosts|0|||7";
    QTest::newRow("selected -1") << "('a.hosts', -1, '', '', 7)"
                                 << "a.hosts|0|||7"
                                 << "a.hosts|0|||7";
    QTest::newRow("selected as text") << "('a.hosts', 'yes', '', '', 7)"
                                      << "a.hosts|0|||7"
                                      << "a.hosts|0|||7";
    QTest::newRow("selected 1.5") << "('a.hosts', 1.5, '', '', 7)"
                                  << "a.hosts|0|||7"
                                  << "a.hosts|0|||7";
    QTest::newRow("selected '1' as text") << "('a.hosts', '1', '', '', 7)"
                                          << "a.hosts|1|||7"
                                          << "a.hosts|1|||7";
    QTest::newRow("empty date") << "('a.hosts', 1, '', '', 7)"
                                << "a.hosts|1|||7"
                                << "a.hosts|1|||7";
    QTest::newRow("thirteenth month") << "('a.hosts', 1, '', '2024-13-01', 7)"
                                      << "a.hosts|1|||7"
                                      << "a.hosts|1|||7";
    QTest::newRow("thirtieth of February") << "('a.hosts', 1, '', '2023-02-30', 7)"
                                           << "a.hosts|1|||7"
                                           << "a.hosts|1|||7";
    QTest::newRow("29 February of a common year") << "('a.hosts', 1, '', '2023-02-29', 7)"
                                                  << "a.hosts|1|||7"
                                                  << "a.hosts|1|||7";
    QTest::newRow("date with a time") << "('a.hosts', 1, '', '2024-01-05 10:00:00', 7)"
                                      << "a.hosts|1|||7"
                                      << "a.hosts|1|||7";
    QTest::newRow("date in another order") << "('a.hosts', 1, '', '05.01.2024', 7)"
                                           << "a.hosts|1|||7"
                                           << "a.hosts|1|||7";
    QTest::newRow("frequency -1") << "('a.hosts', 0, '', '2024-01-05', -1)"
                                  << "a.hosts|0||2024-01-05|-1"
                                  << "a.hosts|0||2024-01-05|-1";
    QTest::newRow("frequency 0") << "('a.hosts', 0, '', '2024-01-05', 0)"
                                 << "a.hosts|0||2024-01-05|0"
                                 << "a.hosts|0||2024-01-05|0";
    QTest::newRow("frequency 366") << "('a.hosts', 0, '', '2024-01-05', 366)"
                                   << "a.hosts|0||2024-01-05|366"
                                   << "a.hosts|0||2024-01-05|366";
    QTest::newRow("local file source")
        << "('default.hosts', 1, 'file:///C:/Windows/system32/drivers/etc/hosts', '', 0)"
        << "default.hosts|1|file:///C:/Windows/system32/drivers/etc/hosts||0"
        << "default.hosts|1|file:///C:/Windows/system32/drivers/etc/hosts||0";
    QTest::newRow("quotes and percent signs in the name") << "('it''s \"%1\" 100%.hosts', 0, '', '', -1)"
                                                          << "it's \"%1\" 100%.hosts|0|||-1"
                                                          << "it's \"%1\" 100%.hosts|0|||-1";
}

void TestSettingsStore::loadsHostsRow()
{
    QFETCH(QString, values);
    QFETCH(QString, loaded);
    QFETCH(QString, saved);

    makeFile(QStringList{createGeneral, createHosts} + generalInserts +
             QStringList{QStringLiteral("insert into Hosts values") + values});
    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
    QCOMPARE(describeHosts(settings), QStringList{loaded});

    QVERIFY(store->save(settings));
    QCOMPARE(hostsRowsIn(path), QStringList{saved});
    QCOMPARE(hostsTypesIn(path), QStringList{QStringLiteral("text|integer|text|text|integer")});
    QVERIFY(log.lines.isEmpty());
}

void TestSettingsStore::missingEditorRowKeepsDefault()
{
    makeFile({createGeneral, createHosts,
              QStringLiteral("insert into General values('Server', 'Regular Expression')"),
              QStringLiteral("insert into General values('Log', 'Brief')"),
              QStringLiteral("insert into General values('Launch', 'Yes')"), hostsRow});
    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
    QCOMPARE(settings.getSetting(QStringLiteral("Editor")), QStringLiteral("xdg-open"));
    QCOMPARE(settings.getSetting(QStringLiteral("Server")), QStringLiteral("Regular Expression"));

    QVERIFY(store->save(settings));
    QCOMPARE(generalRowsIn(path),
             (QStringList{QStringLiteral("Server|Regular Expression"), QStringLiteral("Log|Brief"),
                          QStringLiteral("Editor|xdg-open"), QStringLiteral("Launch|Yes")}));
}

void TestSettingsStore::extraKeyReadableUntilSave()
{
    makeFile(QStringList{createGeneral, createHosts} + generalInserts +
             QStringList{QStringLiteral("insert into General values('Colour', 'blue')"), hostsRow});
    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
    QCOMPARE(settings.getSetting(QStringLiteral("Colour")), QStringLiteral("blue"));
    QCOMPARE(settings.getSetting(QStringLiteral("Editor")), QStringLiteral("notepad.exe"));
    QCOMPARE(settings.getSetting(QStringLiteral("Absent")), QString());

    QVERIFY(store->save(settings));
    QCOMPARE(generalRowsIn(path),
             (QStringList{QStringLiteral("Server|Wildcard"), QStringLiteral("Log|Detailed"),
                          QStringLiteral("Editor|notepad.exe"), QStringLiteral("Launch|No")}));
}

void TestSettingsStore::schemaInOtherLetterCaseLoads()
{
    makeFile({QStringLiteral("CREATE TABLE general(KEY CHAR, VALUE CHAR)"),
              QStringLiteral("CREATE TABLE HOSTS(NAME CHAR, SELECTED INT, UPDATEURL CHAR, LASTUPDATE CHAR, "
                             "UPDATEFREQUENCY INT)"),
              QStringLiteral("insert into General values('Log', 'Off')"), hostsRow});
    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
    QCOMPARE(settings.getSetting(QStringLiteral("Log")), QStringLiteral("Off"));
    QCOMPARE(describeHosts(settings), QStringList{QStringLiteral("a.hosts|1|http://example.com/a||7")});
}

void TestSettingsStore::loadAppends()
{
    settings.hostsList.push_back(entry(QStringLiteral("first.hosts"), true, QString(), QDateTime(), -1));
    makeFile(QStringList{createGeneral, createHosts} + generalInserts + QStringList{hostsRow});
    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
    QCOMPARE(describeHosts(settings), (QStringList{QStringLiteral("first.hosts|1|||-1"),
                                                   QStringLiteral("a.hosts|1|http://example.com/a||7")}));
}

void TestSettingsStore::savesEmptyHostsList()
{
    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
    settings.hostsList.clear();
    QVERIFY(store->save(settings));
    QCOMPARE(hostsRowsIn(path), QStringList());
    QCOMPARE(generalRowsIn(path), defaultGeneralRows);
    QCOMPARE(sqlRows(path, QStringLiteral("select type, name, sql from sqlite_master order by rowid")),
             exactSchema);

    Settings reloaded;
    QCOMPARE(store->loadFromFile(reloaded), SettingsStore::LoadResult::Loaded);
    QVERIFY(reloaded.hostsList.empty());
}

void TestSettingsStore::storesValuesIntact_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("apostrophe") << "it's";
    QTest::newRow("percent and digit") << "%1";
    QTest::newRow("percent signs") << "100% %2%1 %%";
    QTest::newRow("statement in quotes") << "x', 0, '', '', 0); delete from Hosts; --";
    QTest::newRow("double quote and backslash") << "a\"b\\c";
    QTest::newRow("question mark and colon") << "? :name @p";
    QTest::newRow("non-Latin letters") << QStringLiteral("Łódź ホスト");
    QTest::newRow("empty") << "";
}

void TestSettingsStore::storesValuesIntact()
{
    QFETCH(QString, text);

    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
    settings.generalSettings[SettingKey::editor] =
        QStringLiteral("C:/Program Files/") + text + QStringLiteral("/e.exe");
    settings.generalSettings[SettingKey::server] = text;
    const QDateTime lastUpdate(QDate(2024, 3, 9), QTime(23, 59, 59));
    settings.hostsList.push_back(entry(text + QStringLiteral(".hosts"), true,
                                       QStringLiteral("https://example.com/") + text, lastUpdate, 3));
    QVERIFY(store->save(settings));

    QCOMPARE(sqlRows(path, QStringLiteral("select Value from General where Key = 'Server'")),
             QStringList{text});
    QCOMPARE(hostsRowsIn(path).size(), defaultHostsRows.size() + 1);
    QCOMPARE(sqlRows(path, QStringLiteral("select Name, LastUpdate from Hosts order by rowid desc limit 1")),
             QStringList{text + QStringLiteral(".hosts|2024-03-09")});

    SettingsStore other(path, platform.defaultHostsSource(), platform.defaultEditor());
    Settings reloaded;
    QCOMPARE(other.loadFromFile(reloaded), SettingsStore::LoadResult::Loaded);
    QCOMPARE(reloaded.generalSettings, settings.generalSettings);
    QCOMPARE(describeHosts(reloaded), describeHosts(settings));
    QCOMPARE(reloaded.hostsList.back()->updateUrl, settings.hostsList.back()->updateUrl);
    QCOMPARE(reloaded.hostsList.back()->lastUpdate, QDate(2024, 3, 9).startOfDay());
}

void TestSettingsStore::saveWithoutFileWritesWholeDatabase()
{
    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
    QVERIFY(QFile::remove(path));
    settings.generalSettings[SettingKey::log] = QStringLiteral("Brief");
    settings.hostsList.resize(2);
    QVERIFY(store->save(settings));

    QCOMPARE(sqlRows(path, QStringLiteral("select type, name, sql from sqlite_master order by rowid")),
             exactSchema);
    QCOMPARE(generalRowsIn(path),
             (QStringList{QStringLiteral("Server|Wildcard"), QStringLiteral("Log|Brief"),
                          QStringLiteral("Editor|xdg-open"), QStringLiteral("Launch|No")}));
    QCOMPARE(hostsRowsIn(path), defaultHostsRows.mid(0, 2));
    QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("settings")});
}

void TestSettingsStore::failedSaveLeavesFileAsItWas()
{
    // A trigger makes the last statements of the save fail, after the tables were emptied.
    makeFile(QStringList{createGeneral, createHosts} + generalInserts +
             QStringList{hostsRow, QStringLiteral("create trigger refuse before insert on Hosts "
                                                  "begin select raise(abort, 'refused'); end")});
    QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
    settings.generalSettings[SettingKey::server] = QStringLiteral("Off");

    QVERIFY(!store->save(settings));
    QCOMPARE(log.lines, QStringList{saveFailedLine});
    QCOMPARE(generalRowsIn(path),
             (QStringList{QStringLiteral("Server|Wildcard"), QStringLiteral("Log|Detailed"),
                          QStringLiteral("Editor|notepad.exe"), QStringLiteral("Launch|No")}));
    QCOMPARE(hostsRowsIn(path), QStringList{QStringLiteral("a.hosts|1|http://example.com/a||7")});
    QCOMPARE(settings.getSetting(SettingKey::server), QStringLiteral("Off"));
}

void TestSettingsStore::creationFailureLeavesDefaults()
{
    const QString unreachable = dir->filePath(QStringLiteral("missing/settings"));
    SettingsStore nowhere(unreachable, platform.defaultHostsSource(), platform.defaultEditor());
    nowhere.setLogSink(&log);

    QCOMPARE(nowhere.loadFromFile(settings), SettingsStore::LoadResult::NotCreated);
    QCOMPARE(describe(settings), describe(defaults));
    QVERIFY(log.lines.isEmpty());
    QVERIFY(!QFileInfo::exists(unreachable));

    QVERIFY(!nowhere.save(settings));
    QCOMPARE(log.lines, QStringList{saveFailedLine});
}

void TestSettingsStore::creationRefusesExistingFile()
{
    QVERIFY(writeAll(path, "precious"));
    QVERIFY(!store->createDefaultSettings());
    QCOMPARE(readAll(path), QByteArray("precious"));
}

void TestSettingsStore::damagedFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("statements");

    const QStringList sound = QStringList{createGeneral, createHosts} + generalInserts;
    const auto withHosts = [&](const QString &values) {
        return sound + QStringList{QStringLiteral("insert into Hosts values") + values};
    };
    const QByteArray database = soundDatabaseBytes();
    QVERIFY(database.size() > 8 * 1024);

    QTest::newRow("random bytes") << randomBytes(8192) << QStringList();
    QTest::newRow("text file") << QByteArray("Server=Wildcard\nLog=Detailed\n") << QStringList();
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("SQLite header, then garbage")
        << QByteArray("SQLite format 3\0", 16) + randomBytes(4080) << QStringList();
    QTest::newRow("page overwritten")
        << database.left(4096) + QByteArray(1024, 'Z') + database.mid(5120) << QStringList();
    QTest::newRow("cut short") << database.left(database.size() / 2) << QStringList();
    QTest::newRow("no tables") << QByteArray() << QStringList{QStringLiteral("create table Other(x int)")};
    QTest::newRow("Hosts missing") << QByteArray() << (QStringList{createGeneral} + generalInserts);
    QTest::newRow("General missing") << QByteArray() << QStringList{createHosts, hostsRow};
    QTest::newRow("General column types wrong")
        << QByteArray()
        << QStringList{QStringLiteral("create table General(Key int, Value int)"), createHosts};
    QTest::newRow("Hosts column types wrong")
        << QByteArray()
        << QStringList{createGeneral,
                       QStringLiteral("create table Hosts(Name char, Selected char, UpdateUrl char, "
                                      "LastUpdate char, UpdateFrequency char)")};
    QTest::newRow("Hosts column missing")
        << QByteArray()
        << QStringList{createGeneral,
                       QStringLiteral(
                           "create table Hosts(Name char, Selected int, UpdateUrl char, LastUpdate char)")};
    QTest::newRow("Hosts column extra")
        << QByteArray()
        << QStringList{createGeneral,
                       QStringLiteral("create table Hosts(Name char, Selected int, UpdateUrl char, "
                                      "LastUpdate char, UpdateFrequency int, Extra char)")};
    QTest::newRow("NULL key") << QByteArray()
                              << sound + QStringList{QStringLiteral("insert into General values(null, 'x')")};
    QTest::newRow("NULL value") << QByteArray()
                                << sound + QStringList{
                                               QStringLiteral("insert into General values('Editor', null)")};
    QTest::newRow("NULL name") << QByteArray() << withHosts(QStringLiteral("(null, 1, '', '', 7)"));
    QTest::newRow("NULL selected") << QByteArray()
                                   << withHosts(QStringLiteral("('a.hosts', null, '', '', 7)"));
    QTest::newRow("NULL source") << QByteArray() << withHosts(QStringLiteral("('a.hosts', 1, null, '', 7)"));
    QTest::newRow("NULL last update")
        << QByteArray() << withHosts(QStringLiteral("('a.hosts', 1, '', null, 7)"));
    QTest::newRow("NULL frequency") << QByteArray()
                                    << withHosts(QStringLiteral("('a.hosts', 1, '', '', null)"));
    QTest::newRow("frequency as text")
        << QByteArray() << withHosts(QStringLiteral("('a.hosts', 1, '', '', 'weekly')"));
    QTest::newRow("frequency 7.5") << QByteArray()
                                   << withHosts(QStringLiteral("('a.hosts', 1, '', '', 7.5)"));
    QTest::newRow("frequency beyond 32 bits")
        << QByteArray() << withHosts(QStringLiteral("('a.hosts', 1, '', '', 4294967296)"));
    QTest::newRow("name as blob") << QByteArray() << withHosts(QStringLiteral("(x'00ff', 1, '', '', 7)"));
    QTest::newRow("10 MB general value")
        << QByteArray()
        << sound +
               QStringList{QStringLiteral("insert into General values('Editor', hex(zeroblob(5242880)))")};
    QTest::newRow("10 MB source") << QByteArray()
                                  << withHosts(
                                         QStringLiteral("('a.hosts', 1, hex(zeroblob(5242880)), '', 7)"));
}

void TestSettingsStore::damagedFileIsKeptAside()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, statements);

    if (statements.isEmpty())
        QVERIFY(writeAll(path, content));
    else
        makeFile(statements);
    const QByteArray original = readAll(path);
    const QStringList filesBefore =
        QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    QCOMPARE(load(), SettingsStore::LoadResult::Damaged);
    QCOMPARE(describe(settings), describe(defaults));
    QCOMPARE(log.lines, QStringList{damagedLine.arg(path)});
    QCOMPARE(readAll(path), original);
    QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             filesBefore);

    // The first save keeps the user's file under a name of its own before it writes a sound one.
    settings.hostsList.push_back(entry(QStringLiteral("mine.hosts"), true, QString(), QDateTime(), 7));
    QVERIFY(store->save(settings));
    const QStringList kept = QDir(dir->path()).entryList({QStringLiteral("settings.damaged-*")});
    QCOMPARE(kept.size(), 1);
    const QString keptPath = dir->filePath(kept.first());
    QCOMPARE(readAll(keptPath), original);
    QCOMPARE(log.lines, (QStringList{damagedLine.arg(path), keptLine.arg(path + kept.first().mid(8))}));
    QCOMPARE(sqlRows(path, QStringLiteral("select type, name, sql from sqlite_master order by rowid")),
             exactSchema);
    QCOMPARE(hostsRowsIn(path), QStringList{QStringLiteral("mine.hosts|1|||7")});
    QCOMPARE(generalRowsIn(path), defaultGeneralRows);

    // Now the file is ours: later saves write it in place and keep nothing more.
    QVERIFY(store->save(settings));
    QCOMPARE(QDir(dir->path()).entryList({QStringLiteral("settings*")}),
             (QStringList{QStringLiteral("settings"), kept.first()}));
    Settings reloaded;
    QCOMPARE(store->loadFromFile(reloaded), SettingsStore::LoadResult::Loaded);
    QCOMPARE(describeHosts(reloaded), QStringList{QStringLiteral("mine.hosts|1|||7")});
}

void TestSettingsStore::earlierKeptCopiesStay()
{
    QVERIFY(writeAll(path, "damaged"));
    QCOMPARE(load(), SettingsStore::LoadResult::Damaged);
    // Copies named for this second and the next ones exist already.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList earlier;
    for (int second = 0; second < 3; ++second) {
        earlier << QStringLiteral("settings.damaged-") +
                       now.addSecs(second).toString(QStringLiteral("yyyyMMdd-hhmmss"));
        QVERIFY(writeAll(dir->filePath(earlier.last()), "earlier"));
    }

    QVERIFY(store->save(settings));
    for (const QString &name : std::as_const(earlier))
        QCOMPARE(readAll(dir->filePath(name)), QByteArray("earlier"));
    QStringList added = QDir(dir->path()).entryList({QStringLiteral("settings.damaged-*")});
    for (const QString &name : std::as_const(earlier))
        added.removeOne(name);
    QCOMPARE(added.size(), 1);
    QCOMPARE(readAll(dir->filePath(added.first())), QByteArray("damaged"));
    QCOMPARE(log.lines.last(), keptLine.arg(dir->filePath(added.first())));
}

void TestSettingsStore::unreadableFileIsNeverReplaced()
{
    // A folder where the file belongs cannot be read as a database, not even by root.
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("settings")));
    QVERIFY(writeAll(path + QStringLiteral("/inside"), "kept"));

    QCOMPARE(load(), SettingsStore::LoadResult::Unreadable);
    QCOMPARE(describe(settings), describe(defaults));
    QCOMPARE(log.lines, QStringList{unreadableLine.arg(path)});

    QVERIFY(!store->save(settings));
    QCOMPARE(log.lines, (QStringList{unreadableLine.arg(path), saveFailedLine}));
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(readAll(path + QStringLiteral("/inside")), QByteArray("kept"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("settings")});
}

void TestSettingsStore::linesBeforeSinkAreDelivered()
{
    QVERIFY(writeAll(path, "not a database"));
    SettingsStore early(path, platform.defaultHostsSource(), platform.defaultEditor());
    QCOMPARE(early.loadFromFile(settings), SettingsStore::LoadResult::Damaged);

    early.setLogSink(&log);
    QCOMPARE(log.lines, QStringList{damagedLine.arg(path)});
    early.setLogSink(&log);
    QCOMPARE(log.lines.size(), 1);
}

void TestSettingsStore::killDuringSaveLeavesOldOrNew_data()
{
    QTest::addColumn<bool>("damaged");

    QTest::newRow("sound file, saved in place") << false;
    QTest::newRow("damaged file, replaced") << true;
}

void TestSettingsStore::killDuringSaveLeavesOldOrNew()
{
    QFETCH(bool, damaged);

    const QStringList first = describe(alternative(0));
    const QStringList second = describe(alternative(1));
    const QByteArray garbage = randomBytes(4096);
    QStringList initial;
    if (!damaged) {
        QCOMPARE(load(), SettingsStore::LoadResult::Loaded);
        initial = describe(settings);
    }
    QRandomGenerator random(7);
    int oldSurvived = 0;
    int replaced = 0;
    int interrupted = 0; // kills inside a transaction on the file
    for (int round = 0; round < 20; ++round) {
        if (damaged)
            QVERIFY(writeAll(path, garbage));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(saveForeverOption), path});
        QVERIFY2(child.waitForReadyRead(10000), qPrintable(child.errorString()));
        // The first save of a damaged file builds a whole new one, which takes longer.
        QThread::usleep(random.bounded(damaged ? 60000 : 40000));
        child.kill();
        QVERIFY(child.waitForFinished(10000));
        if (QFileInfo::exists(path + QStringLiteral("-journal")))
            ++interrupted;

        Settings found;
        SettingsStore reader(path, platform.defaultHostsSource(), platform.defaultEditor());
        const SettingsStore::LoadResult result = reader.loadFromFile(found);
        if (result == SettingsStore::LoadResult::Damaged) {
            QVERIFY(damaged);
            QCOMPARE(readAll(path), garbage);
            ++oldSurvived;
            continue;
        }
        QCOMPARE(result, SettingsStore::LoadResult::Loaded);
        const QStringList content = describe(found);
        if (content == initial) {
            ++oldSurvived;
            continue;
        }
        QVERIFY2(content == first || content == second, qPrintable(content.mid(0, 6).join(QLatin1Char(' '))));
        ++replaced;
    }
    // Each replaced damaged file was kept first, whole.
    const QStringList kept = QDir(dir->path()).entryList({QStringLiteral("settings.damaged-*")});
    if (damaged)
        QVERIFY(kept.size() >= replaced);
    else
        QVERIFY(kept.isEmpty());
    for (const QString &name : kept)
        QCOMPARE(readAll(dir->filePath(name)), garbage);
    qInfo("the old content survived %d kills of 20; %d kills fell inside a transaction", oldSurvived,
          interrupted);
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], saveForeverOption) == 0)
        saveForever(QString::fromLocal8Bit(argv[2]));
    TestSettingsStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsstore.moc"
