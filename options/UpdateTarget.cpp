#include "options/UpdateTarget.h"

#include "options/HostsLibrary.h"

#include <QFileInfo>

QString updateTarget(const QString &name)
{
    const QString path = libraryPath(name);
    if (path.isEmpty() || QFileInfo(path).isSymLink())
        return QString();
    return path;
}
