#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

// One hosts list of the library: a file in ./hosts/ and where and how often it is refreshed.
struct HostsEntry {
    bool selected = false;
    QString name; // file name inside ./hosts/
    QUrl updateUrl;
    QDateTime lastUpdate;     // null: never updated
    int updateFrequency = -1; // days between automatic updates; -1 never, 0 at every start
};
