#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

// The list refreshed from the system hosts file at every launch, which an apply writes as it is.
inline const QString defaultHostsName = QStringLiteral("default.hosts");

// One hosts list of the library: a file in ./hosts/ and where and how often it is refreshed.
struct HostsEntry {
    bool selected = false;
    QString name; // file name inside ./hosts/
    QUrl updateUrl;
    QDateTime lastUpdate;     // null: never updated
    int updateFrequency = -1; // days between automatic updates; -1 never, 0 at every start
};
