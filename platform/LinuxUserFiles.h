#pragma once

#include "platform/LinuxDesktopUser.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Replaces the file `name` in the folder `folders` (names, one per level) below `user`'s home with
// `content`, or removes it when there is no content, acting as that user: a root process drops to
// their ids in a child process first. Folders missing on the way are made when writing; a symbolic
// link, or a folder not owned by the user, is refused. Returns an empty text when done, else why not.
QString changeUserFile(const DesktopUser &user, const QStringList &folders, const QString &name,
                       const std::optional<QByteArray> &content);
