#pragma once

#include "settings/Settings.h"

#include <QString>
#include <QStringList>

// The library of hosts lists: one file per list in this folder, relative to the working directory.
inline const QString hostsDir = QStringLiteral("./hosts/");

// The library path of a list, or empty text for a name that is not a plain file name (a path
// could reach outside the library).
QString libraryPath(const QString &name);

// The hosts lists in `dir`: its files named *.hosts, sorted by name without regard to letter
// case. Empty when the folder is missing.
QStringList listHostsFiles(const QString &dir);

// True for a list that has a source and was never fetched from it: its file is not there yet.
bool awaitsFirstUpdate(const HostsEntry &entry);

// Makes `hostsList` name the files `fileNames`: entries whose file is missing are dropped unless
// they await their first update (a fresh library has none of its public lists yet), the others keep
// their order, and each file no entry names is appended as a new, unselected list without a
// source, in the order of `fileNames`.
void reconcileHostsList(HostsList &hostsList, const QStringList &fileNames);
