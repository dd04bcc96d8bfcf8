#pragma once

#include <QString>
#include <QStringList>

// "[a.hosts, b.hosts]": the selected lists' names for the window title and the tray tooltip,
// cut with "..." once it grows past 32 characters.
QString selectionSummary(const QStringList &selectedNames);
