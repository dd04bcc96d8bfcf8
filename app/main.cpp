#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "dns/DnsControl.h"
#include "log/LogSink.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

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
// executable's own, or the state folder of an installed copy, which keeps its logs there too.
QString enterWorkingFolder(const Platform &platform)
{
    const WorkingFolder folder = platform.workingFolder();
    if (folder.installed)
        QDir(folder.path).mkpath(QStringLiteral("log"));
    QDir::setCurrent(folder.path);
    return folder.path;
}

// Rolls back a DNS change still recorded, without a display: the package's removal runs this once
// the program has ended.
int rollBackDns(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const std::unique_ptr<Platform> platform = createSystemPlatform();
    SingleInstance instance(SingleInstance::keyFor(enterWorkingFolder(*platform)));
    if (instance.isRunning()) {
        std::printf("Tarnowlock is running: its Quit rolls DNS back\n");
        return 1;
    }
    PrintedLog log;
    DnsControl(*platform, log, QStringLiteral("DNS")).delDNSServer();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], rollBackArgument) == 0)
        return rollBackDns(argc, argv);

    QApplication application(argc, argv);
    const std::unique_ptr<Platform> platform = createSystemPlatform();
    SingleInstance instance(SingleInstance::keyFor(enterWorkingFolder(*platform)));
    QApplication::setQuitOnLastWindowClosed(false);

    // A termination request during start-up is served once the event loop runs.
    platform->quitOnTerminationRequest();

    const auto window = std::make_unique<MainWindow>(argc, *platform, &instance);
    QObject::connect(&instance, &SingleInstance::messageReceived, window.get(), &QWidget::showNormal);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, window.get(), &MainWindow::cleanUp);

    if (instance.sendMessage(QStringLiteral("Vestrum"), 5000))
        return 0;
    if (instance.isRunning()) {
        // Claimed by a copy that does not answer (hung, or another user's): say so rather than vanish.
        std::fprintf(stderr, "Tarnowlock is already running, but does not answer\n");
        return 1;
    }
    return application.exec();
}
