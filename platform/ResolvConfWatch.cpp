#include "platform/ResolvConfWatch.h"

#include <QFileInfo>

namespace {

// A writer's truncate and write, or a rename and its folder's events, end as one call after the last.
constexpr int settleMs = 200;

} // namespace

ResolvConfWatch::ResolvConfWatch(QString path) : path(std::move(path))
{
    settle.setSingleShot(true);
    settle.setInterval(settleMs);
    const auto restart = [this] { settle.start(); };
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &settle, restart);
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &settle, restart);
    QObject::connect(&settle, &QTimer::timeout, &settle, [this] {
        // Armed before the call, so that nothing written while it reads goes unnoticed; a copy, since
        // the call may end the watch.
        arm();
        const std::function<void()> call = changed;
        call();
    });
}

void ResolvConfWatch::watch(std::function<void()> changed)
{
    this->changed = std::move(changed);
    settle.stop();
    arm();
}

void ResolvConfWatch::arm()
{
    const QStringList watched = watcher.files() + watcher.directories();
    if (!watched.isEmpty())
        watcher.removePaths(watched);
    if (!changed)
        return;
    const QFileInfo file(path);
    QStringList wanted = {path, file.absolutePath()};
    const QString target = file.canonicalFilePath();
    if (!target.isEmpty() && target != file.absoluteFilePath())
        wanted << target << QFileInfo(target).absolutePath();
    wanted.removeDuplicates();
    for (const QString &each : std::as_const(wanted)) {
        if (QFileInfo::exists(each))
            watcher.addPath(each);
    }
}
