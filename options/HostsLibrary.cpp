#include "options/HostsLibrary.h"

#include <QDir>
#include <QSet>

#include <algorithm>

QString libraryPath(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QString();
    return hostsDir + name;
}

QStringList listHostsFiles(const QString &dir)
{
    // Files only: a folder named like a list cannot be applied or opened as one.
    return QDir(dir).entryList({QStringLiteral("*.hosts")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
}

bool awaitsFirstUpdate(const HostsEntry &entry)
{
    return !entry.updateUrl.isEmpty() && !entry.lastUpdate.isValid();
}

void reconcileHostsList(HostsList &hostsList, const QStringList &fileNames)
{
    const QSet<QString> present(fileNames.cbegin(), fileNames.cend());
    hostsList.erase(std::remove_if(hostsList.begin(), hostsList.end(),
                                   [&present](const std::unique_ptr<HostsEntry> &entry) {
                                       return !present.contains(entry->name) && !awaitsFirstUpdate(*entry);
                                   }),
                    hostsList.end());

    QSet<QString> named;
    for (const std::unique_ptr<HostsEntry> &entry : hostsList)
        named.insert(entry->name);
    for (const QString &name : fileNames) {
        if (named.contains(name))
            continue;
        auto entry = std::make_unique<HostsEntry>();
        entry->name = name;
        hostsList.push_back(std::move(entry));
        named.insert(name);
    }
}
