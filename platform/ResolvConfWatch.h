#pragma once

#include <QFileSystemWatcher>
#include <QString>
#include <QTimer>

#include <functional>

// Tells when a resolv.conf may have been rewritten: renamed over, written in place, or, where it is
// a symbolic link, its target replaced. A rename over a file ends a watch on it, so the folders of
// the file and of its target are watched too, and the files are watched afresh after each event.
class ResolvConfWatch {
public:
    explicit ResolvConfWatch(QString path);

    // Calls `changed` from the event loop once a burst of changes has settled; an empty function
    // ends the watch.
    void watch(std::function<void()> changed);

private:
    void arm();

    QString path;
    std::function<void()> changed;
    QFileSystemWatcher watcher;
    QTimer settle;
};
