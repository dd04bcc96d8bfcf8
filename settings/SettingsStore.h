#pragma once

#include "settings/Settings.h"

#include <QList>
#include <QString>

#include <utility>

class LogSink;

// Creation, loading and saving of the settings file, an SQLite database with the tables General
// and Hosts. Each operation opens the file on Qt's default connection, works inside one
// transaction and closes it again. A file whose content was not read is never replaced without
// a copy kept beside it.
class SettingsStore {
public:
    enum class LoadResult {
        Loaded,     // read; created with the defaults first when there was no file
        NotCreated, // there was no file and none could be created
        Unreadable, // the file is there but out of reach (no rights, locked, not a file)
        Damaged,    // the file is no database, or not one with our tables and values
    };

    // `defaultHostsSource` and `defaultEditor` are the platform's values for a fresh file.
    SettingsStore(const QString &filePath, const QString &defaultHostsSource, const QString &defaultEditor);

    // Lines reported while no sink was set are delivered to it now.
    void setLogSink(LogSink *sink);

    // The built-in general options and no hosts lists.
    void resetToDefaults(Settings &settings) const;
    // Reads the file into `settings`, creating it first when it is missing: the general options
    // found replace those in memory, the hosts lists are appended. Unless Loaded, `settings` is
    // left as it was; Unreadable and Damaged are reported to the log.
    LoadResult loadFromFile(Settings &settings);
    // Writes a file holding the default tables and rows; false when it cannot be written or a
    // file is already there.
    bool createDefaultSettings();
    // Rewrites both tables from `settings`: the known general options and every hosts list.
    // On false the failure is in the log and the file is as it was.
    bool save(const Settings &settings);

private:
    HostsList defaultHostsList() const;
    bool keepUnreadFile();
    void report(const QString &text, int level);

    QString path;
    QString defaultHostsSource;
    QString defaultEditor;
    LogSink *log = nullptr;
    QList<std::pair<QString, int>> heldLines;
    // The last load found a file it could not read, so its content is still the user's alone.
    bool fileUnread = false;
};
