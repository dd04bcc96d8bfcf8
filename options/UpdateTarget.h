#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The file that an update of the list `name` replaces: its path in the hosts library, or empty
// text when the update may not write it. That is a name that is not a plain file name, or a
// symbolic link, through which the new content could land outside the library.
QString updateTarget(const QString &name);

struct AppliedList {
    QString name;
    QByteArray content;
};

// What an apply writes over the system hosts file: the lists in order, each but default.hosts
// between the lines "# >>> Tarnowlock: <name>" and "# <<< Tarnowlock: <name>".
QByteArray appliedHosts(const QList<AppliedList> &lists);

// `hosts` without the complete blocks an apply wrote, for default.hosts: the machine's own lines.
// A begin marker whose end does not follow before the next begin marker keeps its lines.
QByteArray withoutAppliedLists(const QByteArray &hosts);

// Rewrites the copy at `path` without the blocks an apply wrote; false when it cannot.
bool dropAppliedLists(const QString &path);
