#pragma once

#include <QList>
#include <QStringList>
#include <QVariantList>

// Direct access to an SQLite file through a connection of the test's own, beside the program's.

// Runs `statements` in one transaction on `file`, with `values` bound to the statement at the same
// position; the first failure, or empty text.
QString runSql(const QString &file, const QStringList &statements, const QList<QVariantList> &values = {});

// The rows of `statement` on `file`, each as its values joined by '|', NULL as "NULL"; a failed
// statement gives one row "failed: <error>".
QStringList sqlRows(const QString &file, const QString &statement);
