#pragma once

#include <QString>

// The product web site: the Help menu's pages lie under it and the About dialog links it.
inline const QString productSite = QStringLiteral("http://tarnowlock.org");
