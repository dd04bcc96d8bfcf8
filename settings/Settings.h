#pragma once

#include "settings/HostsEntry.h"

#include <QMap>
#include <QString>

#include <memory>
#include <vector>

// The general options the program knows.
namespace SettingKey {
inline const QString server = QStringLiteral("Server");
inline const QString log = QStringLiteral("Log");
inline const QString editor = QStringLiteral("Editor");
inline const QString launch = QStringLiteral("Launch");
} // namespace SettingKey

// Hosts lists in table row order. Entries live on the heap so that they keep their address while
// the list is reordered.
using HostsList = std::vector<std::unique_ptr<HostsEntry>>;

// The settings in memory for the whole run; the settings file changes only on an explicit save.
struct Settings {
    // Key to value; keys beyond the four known ones are kept from the file until the next save.
    QMap<QString, QString> generalSettings;
    HostsList hostsList;

    // The value of `key`, or empty text when the key is absent.
    QString getSetting(const QString &key) const { return generalSettings.value(key); }
};
