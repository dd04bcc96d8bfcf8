#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Rule sets from bench/generate.py (`shape` as its --shape), made once and kept in the build
// folder. Gives the path prefix of the files: PREFIX.hosts, PREFIX.queries and the dnsmasq forms.
QString generated(int rules, int unindexed, double plainPerRule, const QString &shape = QStringLiteral("plain"));

// The query names of PREFIX.queries, as they come off the wire: mixed case, no trailing dot.
QList<QByteArray> queryNames(const QString &prefix);
