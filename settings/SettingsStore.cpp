#include "settings/SettingsStore.h"

#include "log/LogSink.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QVariant>

#include <limits>

namespace {

const QString dateFormat = QStringLiteral("yyyy-MM-dd");
const QString saveFailed = QStringLiteral("Save settings failed! Please 'Run as administrator'");

// Far above any name, path or address the program stores: a longer value is not ours.
constexpr int maxValueLength = 1 << 20;

// SQLite's result codes for a file that is corrupt or no database at all; any other failure means
// the file is out of reach (rights, a lock) rather than damaged.
const QString sqliteCorrupt = QStringLiteral("11");
const QString sqliteNotADatabase = QStringLiteral("26");

struct Table {
    QString name;
    QStringList columns; // "Name type", in order
};

const Table generalTable{QStringLiteral("General"),
                         {QStringLiteral("Key char"), QStringLiteral("Value char")}};
const Table hostsTable{QStringLiteral("Hosts"),
                       {QStringLiteral("Name char"), QStringLiteral("Selected int"),
                        QStringLiteral("UpdateUrl char"), QStringLiteral("LastUpdate char"),
                        QStringLiteral("UpdateFrequency int")}};

// The public lists of a fresh file, after default.hosts.
struct PublicList {
    const char *name;
    const char *url;
    int frequency;
};

const PublicList publicLists[] = {
    // hpHosts closed in 2020; this is its last address.
    {"hphosts.hosts", "https://hosts-file.net/download/hosts.txt", -1},
    {"IPV6.hosts", "https://raw.githubusercontent.com/lennylxx/ipv6-hosts/master/hosts", 7},
    {"mvps.hosts", "https://winhelp2002.mvps.org/hosts.txt", 7},
    {"someone.hosts", "https://someonewhocares.org/hosts/hosts", 7},
    {"pgl.hosts",
     "https://pgl.yoyo.org/adservers/serverlist.php?hostformat=hosts&showintro=0&mimetype=plaintext", 7},
    {"sysctl.hosts", "http://sysctl.org/cameleon/hosts", 7},
    // hostsfile.mine.nu and the Malware Domain List are gone; these are their last addresses.
    {"mine.hosts", "http://hostsfile.mine.nu/Hosts", 7},
    {"malware.hosts", "https://www.malwaredomainlist.com/hostslist/hosts.txt", 7},
    {"adbin.hosts", "https://adaway.org/hosts.txt", 7},
};

QStringList columnNames(const Table &table)
{
    QStringList names;
    for (const QString &column : table.columns)
        names << column.section(QLatin1Char(' '), 0, 0);
    return names;
}

QString createStatement(const Table &table)
{
    return QStringLiteral("create table ") + table.name + QLatin1Char('(') +
           table.columns.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QString selectStatement(const Table &table)
{
    return QStringLiteral("select ") + columnNames(table).join(QStringLiteral(", ")) +
           QStringLiteral(" from ") + table.name;
}

// Values are bound, never spliced into the text, so any name is stored as it is.
QString insertStatement(const Table &table)
{
    const QStringList marks(table.columns.size(), QStringLiteral("?"));
    return QStringLiteral("insert into ") + table.name + QStringLiteral(" values(") +
           marks.join(QStringLiteral(", ")) + QLatin1Char(')');
}

// Qt's default connection, open on one file with a transaction begun, for the life of this object.
// A transaction not committed is rolled back.
class Session {
public:
    explicit Session(const QString &file)
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        database.setDatabaseName(file);
        open = database.open() && database.transaction();
    }
    ~Session()
    {
        {
            QSqlDatabase database = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
            if (open && !committed)
                database.rollback();
            database.close();
        }
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    bool isOpen() const { return open; }
    // Declare the query after the session: it must be gone before the connection is removed.
    QSqlQuery query() const
    {
        return QSqlQuery(QSqlDatabase::database(QSqlDatabase::defaultConnection, false));
    }
    bool commit()
    {
        committed = QSqlDatabase::database(QSqlDatabase::defaultConnection, false).commit();
        return committed;
    }

private:
    bool open = false;
    bool committed = false;
};

// Both tables' rows as they are bound to the insert statements.
struct Rows {
    QList<QVariantList> general;
    QList<QVariantList> hosts;
};

// A null text would be bound as NULL; the file holds empty text instead.
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

Rows rowsOf(const Settings &settings)
{
    Rows rows;
    for (const QString &key :
         {SettingKey::server, SettingKey::log, SettingKey::editor, SettingKey::launch, SettingKey::lists})
        rows.general.append({key, text(settings.generalSettings.value(key))});
    for (const std::unique_ptr<HostsEntry> &entry : settings.hostsList)
        rows.hosts.append(
            {text(entry->name), entry->selected ? 1 : 0, text(entry->updateUrl.toString()),
             text(entry->lastUpdate.isValid() ? entry->lastUpdate.toString(dateFormat) : QString()),
             entry->updateFrequency});
    return rows;
}

bool insertRows(QSqlQuery &query, const Table &table, const QList<QVariantList> &rows)
{
    if (!query.prepare(insertStatement(table)))
        return false;
    for (const QVariantList &row : rows) {
        for (int column = 0; column < row.size(); ++column)
            query.bindValue(column, row.at(column));
        if (!query.exec())
            return false;
    }
    return true;
}

enum class Prelude { CreateTables, EmptyTables };

// Writes `rows` into the file in one transaction: all of them, or on false nothing.
bool writeTables(const QString &file, const Rows &rows, Prelude prelude)
{
    Session session(file);
    if (!session.isOpen())
        return false;
    QSqlQuery query = session.query();
    const std::pair<const Table &, const QList<QVariantList> &> tables[] = {{generalTable, rows.general},
                                                                            {hostsTable, rows.hosts}};
    for (const auto &[table, tableRows] : tables) {
        const QString first = prelude == Prelude::CreateTables ? createStatement(table)
                                                               : QStringLiteral("delete from ") + table.name;
        if (!query.exec(first) || !insertRows(query, table, tableRows))
            return false;
    }
    return session.commit();
}

// Puts a new database holding `rows` in the place of `file` in one step: it is built beside the
// file and copied over it by an atomic replacement, so that at every moment `file` is either what
// it was or the complete new database.
bool writeFresh(const QString &file, const Rows &rows)
{
    const QFileInfo target(file);
    QTemporaryFile scratch(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                           QStringLiteral(".XXXXXX"));
    if (!scratch.open())
        return false;
    scratch.close(); // SQLite opens it by name
    if (!writeTables(scratch.fileName(), rows, Prelude::CreateTables))
        return false;
    QFile built(scratch.fileName());
    if (!built.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = built.readAll();
    QSaveFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(content) == content.size() && out.commit();
}

enum class Reading { Sound, Damaged, Unavailable };

Reading failureOf(const QSqlQuery &query)
{
    const QString code = query.lastError().nativeErrorCode();
    return code == sqliteCorrupt || code == sqliteNotADatabase ? Reading::Damaged : Reading::Unavailable;
}

// Not NULL, and no text or blob of a size the program never writes.
bool isBounded(const QVariant &value)
{
    if (value.isNull())
        return false;
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString().size() <= maxValueLength;
    case QMetaType::QByteArray:
        return value.toByteArray().size() <= maxValueLength;
    default:
        return true;
    }
}

// The described read of one value: NULL as empty text, anything else as its text (a value longer
// than the program ever writes as empty text). False for an odd value, read all the same.
bool readText(const QVariant &value, QString &text)
{
    text = isBounded(value) ? value.toString() : QString();
    return isBounded(value) && value.typeId() == QMetaType::QString;
}

// A number as described: what is no 32-bit integer reads as 0 (text holding one reads as it).
bool readInt(const QVariant &value, int &number)
{
    const qlonglong wide = value.toLongLong();
    if (value.typeId() == QMetaType::LongLong && wide >= std::numeric_limits<int>::min() &&
        wide <= std::numeric_limits<int>::max()) {
        number = int(wide);
        return true;
    }
    bool ok = false;
    number = isBounded(value) ? value.toString().trimmed().toInt(&ok) : 0;
    if (!ok)
        number = 0;
    return false;
}

bool hasColumns(QSqlQuery &query, const Table &table, Reading *failure)
{
    // Pragmas take no bound values; the name is our own constant.
    if (!query.exec(QStringLiteral("pragma table_info(") + table.name + QLatin1Char(')'))) {
        *failure = failureOf(query);
        return false;
    }
    QStringList found;
    while (query.next())
        found << query.value(1).toString() + QLatin1Char(' ') + query.value(2).toString();
    *failure = Reading::Damaged;
    return found.join(QLatin1Char(',')).compare(table.columns.join(QLatin1Char(',')), Qt::CaseInsensitive) ==
           0;
}

// One row of Hosts; false when a value was odd (the entry is read all the same).
bool readHostsEntry(const QSqlQuery &query, HostsEntry &entry)
{
    const QVariant selected = query.value(1);
    QString url;
    QString lastUpdate;
    const bool name = readText(query.value(0), entry.name);
    const bool source = readText(query.value(2), url);
    const bool date = readText(query.value(3), lastUpdate);
    const bool frequency = readInt(query.value(4), entry.updateFrequency);
    // Any value but the integer 1 reads as not selected.
    entry.selected = selected.typeId() == QMetaType::LongLong && selected.toLongLong() == 1;
    entry.updateUrl = QUrl(url);
    // Empty, malformed and impossible dates read as never updated.
    const QDate day = QDate::fromString(lastUpdate, dateFormat);
    entry.lastUpdate = day.isValid() ? day.startOfDay() : QDateTime();
    return name && source && date && frequency;
}

// Reads the whole file before anything reaches memory, so that a damaged one changes nothing.
Reading readFile(const QString &file, QList<std::pair<QString, QString>> &general, HostsList &hosts,
                 QStringList &oddRows)
{
    Session session(file);
    if (!session.isOpen())
        return Reading::Unavailable;
    QSqlQuery query = session.query();
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("pragma quick_check")))
        return failureOf(query);
    if (!query.next() || query.value(0).toString() != QLatin1String("ok"))
        return Reading::Damaged;
    Reading failure = Reading::Damaged;
    if (!hasColumns(query, generalTable, &failure) || !hasColumns(query, hostsTable, &failure))
        return failure;

    if (!query.exec(selectStatement(generalTable)))
        return failureOf(query);
    for (int row = 1; query.next(); ++row) {
        QString key;
        QString value;
        const bool keyRead = readText(query.value(0), key);
        if (!readText(query.value(1), value) || !keyRead)
            oddRows << generalTable.name + QStringLiteral(" row ") + QString::number(row);
        general.append({key, value});
    }
    if (query.lastError().isValid())
        return failureOf(query);

    if (!query.exec(selectStatement(hostsTable)))
        return failureOf(query);
    for (int row = 1; query.next(); ++row) {
        auto entry = std::make_unique<HostsEntry>();
        if (!readHostsEntry(query, *entry))
            oddRows << hostsTable.name + QStringLiteral(" row ") + QString::number(row);
        hosts.push_back(std::move(entry));
    }
    return query.lastError().isValid() ? failureOf(query) : Reading::Sound;
}

} // namespace

SettingsStore::SettingsStore(const QString &filePath, const QString &defaultHostsSource,
                             const QString &defaultEditor)
    : path(filePath), defaultHostsSource(defaultHostsSource), defaultEditor(defaultEditor)
{
}

void SettingsStore::setLogSink(LogSink *sink)
{
    log = sink;
    if (!log)
        return;
    for (const auto &[text, level] : std::as_const(heldLines))
        log->appendLog(text, level, false);
    heldLines.clear();
}

void SettingsStore::resetToDefaults(Settings &settings) const
{
    settings.generalSettings = {{SettingKey::server, QStringLiteral("Wildcard")},
                                {SettingKey::log, QStringLiteral("Detailed")},
                                {SettingKey::editor, defaultEditor},
                                {SettingKey::launch, QStringLiteral("No")},
                                {SettingKey::lists, ListsIn::hostsFile}};
    settings.hostsList.clear();
}

SettingsStore::LoadResult SettingsStore::loadFromFile(Settings &settings)
{
    if (!QFileInfo::exists(path) && !createDefaultSettings())
        return LoadResult::NotCreated;

    QList<std::pair<QString, QString>> general;
    HostsList hosts;
    QStringList oddRows;
    const Reading reading = readFile(path, general, hosts, oddRows);
    fileUnread = reading != Reading::Sound;
    switch (reading) {
    case Reading::Damaged:
        report(QStringLiteral("Settings file '%1' is damaged; using the built-in defaults").arg(path),
               LogLevel::Fails);
        return LoadResult::Damaged;
    case Reading::Unavailable:
        report(QStringLiteral("Settings file '%1' cannot be read; using the built-in defaults").arg(path),
               LogLevel::Fails);
        return LoadResult::Unreadable;
    case Reading::Sound:
        break;
    }
    for (const QString &row : std::as_const(oddRows))
        report(QStringLiteral("Settings file '%1': %2 holds an odd value, read as empty text or 0")
                   .arg(path, row),
               LogLevel::Fails);
    for (const auto &[key, value] : std::as_const(general))
        settings.generalSettings.insert(key, value);
    for (std::unique_ptr<HostsEntry> &entry : hosts)
        settings.hostsList.push_back(std::move(entry));
    return LoadResult::Loaded;
}

bool SettingsStore::createDefaultSettings()
{
    if (QFileInfo::exists(path))
        return false;
    Settings defaults;
    resetToDefaults(defaults);
    defaults.hostsList = defaultHostsList();
    return writeFresh(path, rowsOf(defaults));
}

bool SettingsStore::save(const Settings &settings)
{
    const Rows rows = rowsOf(settings);
    bool saved = false;
    if (!QFileInfo::exists(path))
        saved = writeFresh(path, rows);
    else if (fileUnread)
        saved = keepUnreadFile() && writeFresh(path, rows);
    else
        saved = writeTables(path, rows, Prelude::EmptyTables);
    if (!saved) {
        report(saveFailed, LogLevel::Fails);
        return false;
    }
    fileUnread = false;
    return true;
}

HostsList SettingsStore::defaultHostsList() const
{
    HostsList hosts;
    hosts.push_back(std::make_unique<HostsEntry>(
        HostsEntry{true, defaultHostsName, QUrl(defaultHostsSource), QDateTime(), 0}));
    for (const PublicList &list : publicLists)
        hosts.push_back(std::make_unique<HostsEntry>(HostsEntry{false, QString::fromLatin1(list.name),
                                                                QUrl(QString::fromLatin1(list.url)),
                                                                QDateTime(), list.frequency}));
    return hosts;
}

// The user's file goes on existing under a name of its own before a new one takes its place.
bool SettingsStore::keepUnreadFile()
{
    const QString stem = path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    // An earlier copy of the same second must stay as it is.
    QString kept = stem;
    for (int n = 2; QFileInfo::exists(kept); ++n)
        kept = stem + QLatin1Char('-') + QString::number(n);
    if (!QFile::copy(path, kept))
        return false;
    report(QStringLiteral("The settings file that could not be read is kept as '%1'").arg(kept),
           LogLevel::Emphasis);
    return true;
}

void SettingsStore::report(const QString &text, int level)
{
    if (log)
        log->appendLog(text, level, false);
    else
        heldLines.append({text, level});
}
