#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "dns/DnsControl.h"
#include "log/LogSink.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QDir>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace {

const char rollBackArgument[] = "--roll-back-dns";

// Lines of a run without a window go to standard output.
class PrintedLog : public LogSink {
public:
    void appendLog(const QString &text, int, bool) override
    {
        std::printf("%s\n", qPrintable(escapedForLog(text)));
    }
};

// Every relative path of the program (settings, hosts/, log/, DNS) lies in its working folder: the
// executable's own, or the state folder of an installed copy. Empty text when it cannot be entered:
// the program then reads and writes nothing anywhere else.
QString enterWorkingFolder(const WorkingFolder &folder)
{
    if (!QDir::setCurrent(folder.path)) {
        std::fprintf(stderr, "Tarnowlock can't enter its folder '%s': %s\n", qPrintable(folder.path),
                     std::generic_category().message(errno).c_str());
        return QString();
    }
    return folder.path;
}

// Rolls back a DNS change still recorded, without a display: the package's removal runs this once
// the program has ended.
int rollBackDns(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const std::unique_ptr<Platform> platform = createSystemPlatform();
    const QString folder = enterWorkingFolder(platform->workingFolder());
    if (folder.isEmpty())
        return 1;
    SingleInstance instance(folder);
    if (instance.isRunning()) {
        std::printf("Tarnowlock is running: its Quit rolls DNS back\n");
        return 1;
    }
    PrintedLog log;
    return DnsControl(*platform, log, QStringLiteral("DNS")).delDNSServer() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], rollBackArgument) == 0)
        return rollBackDns(argc, argv);

    QApplication application(argc, argv);
    const std::unique_ptr<Platform> platform = createSystemPlatform();
    const WorkingFolder workingFolder = platform->workingFolder();
    const QString folder = enterWorkingFolder(workingFolder);
    if (folder.isEmpty())
        return 1;
    SingleInstance instance(folder);
    // A second start hands over before it makes anything of its own: no window, no socket, no file.
    if (instance.isRunning()) {
        if (instance.sendMessage(QStringLiteral("Vestrum"), 5000))
            return 0;
        // Claimed by a copy that does not answer (hung, or another user's): say so rather than vanish.
        std::fprintf(stderr, "Tarnowlock is already running, but does not answer\n");
        return 1;
    }
    // The installed copy keeps its logs in its state folder.
    if (workingFolder.installed)
        QDir().mkpath(QStringLiteral("log"));
    QApplication::setQuitOnLastWindowClosed(false);

    // A termination request during start-up is served once the event loop runs.
    platform->quitOnTerminationRequest();

    const auto window = std::make_unique<MainWindow>(argc, *platform, &instance);
    if (platform->terminationRequested()) {
        // It came while a start-up box was open: end as Quit would, undoing what the start did.
        window->cleanUp();
        return 0;
    }
    QObject::connect(&instance, &SingleInstance::messageReceived, window.get(), &MainWindow::showInFront);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, window.get(), &MainWindow::cleanUp);
    return application.exec();
}
