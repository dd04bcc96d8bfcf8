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
// Where the selected lists take effect: one of the ListsIn values.
inline const QString lists = QStringLiteral("Lists");
} // namespace SettingKey

namespace ListsIn {
// Written into the system hosts file.
inline const QString hostsFile = QStringLiteral("Hosts file");
// Answered by the DNS server while it runs with the machine's DNS pointed at it; the system hosts
// file keeps only the machine's own lines.
inline const QString dnsServer = QStringLiteral("DNS server");
} // namespace ListsIn

// Hosts lists in table row order. Entries live on the heap so that they keep their address while
// the list is reordered.
using HostsList = std::vector<std::unique_ptr<HostsEntry>>;

// The settings in memory for the whole run; the settings file changes only on an explicit save.
struct Settings {
    // Key to value; keys beyond the known ones are kept from the file until the next save.
    QMap<QString, QString> generalSettings;
    HostsList hostsList;

    // The value of `key`, or empty text when the key is absent.
    QString getSetting(const QString &key) const { return generalSettings.value(key); }
};
