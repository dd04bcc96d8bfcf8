#include "tests/support/SqlFile.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

const QString checkConnection = QStringLiteral("test check");

} // namespace

QString runSql(const QString &file, const QStringList &statements)
{
    QString failure;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), checkConnection);
        database.setDatabaseName(file);
        if (!database.open() || !database.transaction())
            failure = database.lastError().text();
        QSqlQuery query(database);
        for (int i = 0; failure.isEmpty() && i < statements.size(); ++i) {
            if (!query.exec(statements.at(i)))
                failure = statements.at(i) + QStringLiteral(": ") + query.lastError().text();
        }
        if (failure.isEmpty() && !database.commit())
            failure = database.lastError().text();
    }
    QSqlDatabase::removeDatabase(checkConnection);
    return failure;
}

QStringList sqlRows(const QString &file, const QString &statement)
{
    QStringList rows;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), checkConnection);
        database.setDatabaseName(file);
        database.open();
        QSqlQuery query(database);
        if (!query.exec(statement))
            rows << QStringLiteral("failed: ") + query.lastError().text();
        while (query.next()) {
            QStringList fields;
            for (int i = 0; i < query.record().count(); ++i)
                fields << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
            rows << fields.join(QLatin1Char('|'));
        }
    }
    QSqlDatabase::removeDatabase(checkConnection);
    return rows;
}
