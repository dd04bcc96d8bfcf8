#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>

// Replaces `target` with the concatenation of `sources`, so that at every moment `target` holds
// either its old content or the complete new one. The new content goes to a temporary file beside
// the target, which is renamed over it; where the target cannot be replaced by a rename (a mount
// point, a busy file), the finished content is written into it in place. A symbolic link is
// followed and left a link. The target keeps its permissions. On false `error` says why and the
// target is as it was.
bool replaceFileWith(const QString &target, const QStringList &sources, QString *error = nullptr);

class QFile;

// Opens `file` only when it is a regular file or a link to one. Opening a named pipe waits for a
// writer, and the program with it; a device or a folder holds no hosts lines either.
bool openRegularFile(QFile &file, QIODevice::OpenMode mode);
