#include "app/MainWindow.h"

#include "app/SelectionSummary.h"
#include "app/SingleInstance.h"
#include "dns/UI_ServerPanel.h"
#include "log/UI_LogPanel.h"
#include "platform/Platform.h"
#include "platform/SystemConstants.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>

MainWindow::MainWindow(int argumentCount, Platform &platform, SingleInstance *instance, quint16 dnsPort,
                       QWidget *parent)
    : QMainWindow(parent), argumentCount(argumentCount), platform(platform), instance(instance), dnsPort(dnsPort)
{
    // The icons are compiled into a static library, which the linker would otherwise drop.
    Q_INIT_RESOURCE(resources);
    // Any argument (the start-up entry passes -silent) starts the program in the tray.
    if (argumentCount > 1)
        hide();
    createNormal();
    if (!platform.isAdmin())
        createAskAdmin();
}

MainWindow::~MainWindow() = default;

void MainWindow::createNormal()
{
    logPanel = new UI_LogPanel(QString(), this);
    serverPanel = new UI_ServerPanel(*logPanel, platform, this, dnsPort);
    createMenus();
    logPanel->appendLog(QStringLiteral("Launching Tarnowlock..."), LogLevel::Begins, false);

    gridLayout = new QGridLayout;
    gridLayout->setMenuBar(mainMenuBar);
    gridLayout->addWidget(serverPanel);
    gridLayout->addWidget(logPanel);
    centralWidget = new QWidget;
    centralWidget->setLayout(gridLayout);
    setCentralWidget(centralWidget);

    if (argumentCount <= 1)
        showCentered();
    applyOptions();
    serverPanel->setStatus(QString());
    logPanel->appendLog(QStringLiteral("Tarnowlock launched!"), LogLevel::Succeeds, false);
}

void MainWindow::createMenus()
{
    mainMenuBar = new QMenuBar(this);
    QMenu *fileMenu = mainMenuBar->addMenu(QStringLiteral("File(&F)"));
    QAction *quit = fileMenu->addAction(QStringLiteral("Quit(&Q)"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &MainWindow::menuFileQuit);
}

void MainWindow::createAskAdmin()
{
    // Text-less, after the menus: a shield at the right end of the menu bar. Styles outside
    // Windows draw no shield, so ours stands in.
    QAction *elevate = mainMenuBar->addAction(QString());
    QIcon shield = style()->standardIcon(QStyle::SP_VistaShield);
    if (shield.isNull())
        shield = QIcon(QStringLiteral(":/Resources/icon/Shield.png"));
    elevate->setIcon(shield);
    connect(elevate, &QAction::triggered, this, &MainWindow::runAsAdmin);
}

void MainWindow::runAsAdmin()
{
    const QString executable = platform.executablePath();
    if (executable.isEmpty())
        return;
    // Give the claim up first, so the elevated copy never finds this one still running.
    if (instance)
        instance->release();
    if (platform.startElevated(executable)) {
        QCoreApplication::quit();
        return;
    }
    if (instance)
        instance->isRunning(); // declined: claim again and run on unchanged
}

void MainWindow::cleanUp()
{
    hide();
    serverPanel->Off();
    logPanel->save();
}

void MainWindow::menuFileQuit()
{
    QCoreApplication::quit();
}

void MainWindow::applyOptions()
{
    setWindowTitle(selectionSummary({}) + QStringLiteral(" - Tarnowlock ") + appVersion);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The program lives on in the tray; only Quit ends it.
    hide();
    event->ignore();
}

void MainWindow::showCentered()
{
    const QRect desktop = QGuiApplication::primaryScreen()->geometry();
    const int left = (desktop.right() - desktop.left() - 799) / 2;
    const int top = (desktop.bottom() - desktop.top() - 599) / 2;
    setGeometry(QRect(QPoint(left, top), QPoint(left + 799, top + 599)));
    setFocus(Qt::OtherFocusReason);
    showNormal();
}
