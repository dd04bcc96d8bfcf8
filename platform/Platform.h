#pragma once

#include "platform/InstallLayout.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class NameServerStore;

// The operating-system services the program uses. main creates one and hands it to the classes
// that need it; tests hand in a fake or a real implementation pointed at a temporary folder.
class Platform {
public:
    virtual ~Platform() = default;

    // The system hosts file in the system's own notation: the apply target and the editor's file.
    virtual QString systemHostsPath() const = 0;
    // The same file as read for the DNS server's rules.
    virtual QString systemHostsPathSlashed() const = 0;
    virtual QString systemEtcDir() const = 0;
    // Source and editor of a fresh settings database.
    virtual QString defaultHostsSource() const = 0;
    virtual QString defaultEditor() const = 0;
    // The running executable's full path; empty when the system cannot tell.
    virtual QString executablePath() const = 0;
    // Where the working files live, which start-up makes the working directory.
    virtual WorkingFolder workingFolder() const = 0;

    virtual bool isAdmin() const = 0;
    // Starts `executable` again with administrator rights and returns while the user is asked;
    // `done` is called from the event loop with true once the elevated copy has started, with
    // false when the user declined or it could not be started.
    virtual void startElevated(const QString &executable, std::function<void(bool)> done) = 0;

    // Writes the concatenation of `sources` over the system hosts file. On false the old file
    // is whole.
    virtual bool writeHostsFile(const QStringList &sources) = 0;
    // Copies a local source file over `target`. On false `target` is as it was.
    virtual bool copyFile(const QString &source, const QString &target) = 0;
    // Why the last of those two writes failed, where missing rights were not the reason (another
    // program holding the file); empty text where they may have been.
    virtual QString lastWriteFailure() const { return QString(); }

    // Detached programs; whether the folder is shown is not reported, the editor's start is.
    virtual void showFolder(const QString &folder) = 0;
    virtual bool startEditor(const QString &editor, const QString &argument, const QString &workingDir) = 0;

    virtual NameServerStore &nameServers() = 0;
    // Calls `changed` from the event loop soon after anyone may have changed the name servers,
    // until called again; an empty function ends the watch.
    virtual void watchNameServers(std::function<void()> changed) = 0;
    // Asks the system to register its DNS names again; not awaited.
    virtual void registerDns() = 0;
    // True when the resolver cache was flushed (or there is none) within the time limit.
    virtual bool flushDnsCache() = 0;

    // Start-up entry of the desktop user: written to start `executable` hidden when `enabled`, else
    // removed. On Windows the machine-wide one is always removed. Returns an empty text when done,
    // else why not.
    virtual QString setStartupEntry(bool enabled, const QString &executable) = 0;

    // Makes the system's termination requests (log-off, SIGTERM and the like) quit the
    // application through its event loop, so that its clean-up runs.
    virtual void quitOnTerminationRequest() = 0;
    // True once such a request came. One that comes while a box of the start-up is open closes it,
    // before the event loop runs, and start-up ends the program in its place.
    virtual bool terminationRequested() const = 0;
};

// The implementation for the system the program was built for.
std::unique_ptr<Platform> createSystemPlatform();
