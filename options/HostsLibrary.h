#pragma once

#include "settings/Settings.h"

#include <QString>
#include <QStringList>

// The hosts lists in `dir`: its files named *.hosts, sorted by name without regard to letter
// case. Empty when the folder is missing.
QStringList listHostsFiles(const QString &dir);

// Makes `hostsList` name exactly the files `fileNames`: entries whose file is missing are dropped,
// the others keep their order, and each file no entry names is appended as a new, unselected list
// without a source, in the order of `fileNames`.
void reconcileHostsList(HostsList &hostsList, const QStringList &fileNames);
