#pragma once

#include "settings/SettingsStore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include <functional>

// Direct access to an SQLite file through a connection of the test's own, beside the program's.
inline void withSqlFile(const QString &file, const std::function<void(QSqlDatabase &)> &work)
{
    const QString connection = QStringLiteral("test check");
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        database.setDatabaseName(file);
        work(database);
    }
    QSqlDatabase::removeDatabase(connection);
}

// The rows of `statement` on `file`, each as its values joined by '|', NULL as "NULL"; a failed
// statement gives one row "failed: <error>".
inline QStringList sqlRows(const QString &file, const QString &statement)
{
    QStringList rows;
    withSqlFile(file, [&](QSqlDatabase &database) {
        QSqlQuery query(database);
        if (!database.open() || !query.exec(statement))
            rows << QStringLiteral("failed: ") + query.lastError().text();
        while (query.next()) {
            QStringList fields;
            for (int i = 0; i < query.record().count(); ++i)
                fields << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
            rows << fields.join(u'|');
        }
    });
    return rows;
}

// Runs `statements` on `file` one after the other; the first failure, or empty text.
inline QString runSql(const QString &file, const QStringList &statements)
{
    for (const QString &statement : statements) {
        const QStringList rows = sqlRows(file, statement);
        if (!rows.isEmpty() && rows.first().startsWith(QLatin1String("failed: ")))
            return statement + u' ' + rows.first();
    }
    return QString();
}

// A settings file of the defaults without their hosts lists: the public lists would be fetched
// from the network at start; the lists of a test come from the files in its hosts/.
inline bool createSettingsWithoutLists(const QString &file)
{
    SettingsStore store(file, QString(), QString());
    return store.createDefaultSettings() && runSql(file, {QStringLiteral("delete from Hosts")}).isEmpty();
}
