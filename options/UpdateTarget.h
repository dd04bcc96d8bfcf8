#pragma once

#include <QString>

// The file that an update of the list `name` replaces: its path in the hosts library, or empty
// text when the update may not write it. That is a name that is not a plain file name, or a
// symbolic link, through which the new content could land outside the library.
QString updateTarget(const QString &name);
