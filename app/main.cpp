#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    SingleInstance instance(SingleInstance::keyFor(QCoreApplication::applicationDirPath()));
    // Every relative path of the program (settings, hosts/, log/, DNS) lies beside the executable.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    QApplication::setQuitOnLastWindowClosed(false);

    const std::unique_ptr<Platform> platform = createSystemPlatform();
    // A termination request during start-up is served once the event loop runs.
    platform->quitOnTerminationRequest();

    const auto window = std::make_unique<MainWindow>(argc, *platform, &instance);
    QObject::connect(&instance, &SingleInstance::messageReceived, window.get(), &QWidget::showNormal);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, window.get(), &MainWindow::cleanUp);

    if (instance.sendMessage(QStringLiteral("Vestrum"), 5000) || instance.isRunning())
        return 0;
    return application.exec();
}
