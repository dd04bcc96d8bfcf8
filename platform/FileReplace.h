#pragma once

#include <QString>
#include <QStringList>

// Replaces `target` with the concatenation of `sources`, so that at every moment `target` holds
// either its old content or the complete new one. The new content goes to a temporary file beside
// the target, which is renamed over it; where the target cannot be replaced by a rename (a mount
// point, a busy file), the finished content is written into it in place. A symbolic link is
// followed and left a link. The target keeps its permissions. On false `error` says why and the
// target is as it was.
bool replaceFileWith(const QString &target, const QStringList &sources, QString *error = nullptr);
