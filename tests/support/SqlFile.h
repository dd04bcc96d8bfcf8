#pragma once

#include <QStringList>

// Direct access to an SQLite file through a connection of the test's own, beside the program's.

// Runs `statements` in one transaction on `file`; the first failure, or empty text.
QString runSql(const QString &file, const QStringList &statements);

// The rows of `statement` on `file`, each as its values joined by '|', NULL as "NULL"; a failed
// statement gives one row "failed: <error>".
QStringList sqlRows(const QString &file, const QString &statement);
