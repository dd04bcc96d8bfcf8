#include "app/MainWindow.h"

#include "app/HostsFiles.h"
#include "app/ProductSite.h"
#include "app/SelectionSummary.h"
#include "app/SingleInstance.h"
#include "app/UI_AboutPanel.h"
#include "dns/UI_ServerPanel.h"
#include "log/UI_LogPanel.h"
#include "options/UI_OptionsPanel.h"
#include "options/UpdateTarget.h"
#include "platform/Platform.h"
#include "platform/SystemConstants.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QSignalMapper>
#include <QStyle>
#include <QTemporaryFile>
#include <QUrl>

MainWindow::MainWindow(int argumentCount, Platform &platform, SingleInstance *instance, quint16 dnsPort,
                       QWidget *parent)
    : QMainWindow(parent), argumentCount(argumentCount), platform(platform), instance(instance),
      dnsPort(dnsPort)
{
    // The icons are compiled into a static library, which the linker would otherwise drop.
    Q_INIT_RESOURCE(resources);
    // Any argument (the start-up entry passes -silent) starts the program in the tray. Its window is
    // made all the same: the end of the session (log-off, shut-down) reaches only windows that
    // exist, and must run the quit path that rolls DNS back.
    if (argumentCount > 1) {
        hide();
        winId();
    }
    createNormal();
    if (!platform.isAdmin())
        createAskAdmin();
}

MainWindow::~MainWindow() = default;

void MainWindow::showInFront()
{
    showNormal();
    // showNormal leaves a window that was shown behind the others where it is.
    raise();
    activateWindow();
}

void MainWindow::createNormal()
{
    optionsPanel = new UI_OptionsPanel(platform, this);
    aboutPanel = new UI_AboutPanel(this);
    logPanel = new UI_LogPanel(optionsPanel->getSetting(SettingKey::log), this);
    optionsPanel->setLogPanel(logPanel);
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
    createTray();
    applyOptions();
    applyServerMode();
    logPanel->appendLog(QStringLiteral("Tarnowlock launched!"), LogLevel::Succeeds, false);
    optionsPanel->loadHostsList();
    // default.hosts is refreshed here, so the placement below writes the machine's lines of now.
    optionsPanel->performAutoUpdate();
    if (listsToServer())
        applyHostsFiles(); // the server, started with the hosts file alone, takes the lists now
}

namespace {

QAction *addEntry(QMenu *menu, const QString &text, const QKeySequence &shortcut = QKeySequence())
{
    QAction *action = menu->addAction(text);
    action->setShortcut(shortcut);
    return action;
}

} // namespace

void MainWindow::createMenus()
{
    mainMenuBar = new QMenuBar(this);

    QMenu *file = mainMenuBar->addMenu(QStringLiteral("File(&F)"));
    connect(addEntry(file, QStringLiteral("Open System hosts(&O)"), QKeySequence(QStringLiteral("Ctrl+O"))),
            &QAction::triggered, this, &MainWindow::menuFileOpenSys);
    connect(addEntry(file, QStringLiteral("Open System hosts Dir(&D)")), &QAction::triggered, this,
            &MainWindow::menuFileOpenSysDir);
    file->addSeparator();
    connect(addEntry(file, QStringLiteral("Create New hosts(&N)..."), QKeySequence(QStringLiteral("Ctrl+N"))),
            &QAction::triggered, this, &MainWindow::menuFileCreateNew);
    connect(addEntry(file, QStringLiteral("Import hosts Files(&I)..."),
                     QKeySequence(QStringLiteral("Ctrl+Shift+N"))),
            &QAction::triggered, this, &MainWindow::menuFileImport);
    connect(addEntry(file, QStringLiteral("Open hosts Dir(&H)")), &QAction::triggered, this,
            &MainWindow::menuFileOpenHostsDir);
    connect(addEntry(file, QStringLiteral("Open Log Dir(&L)")), &QAction::triggered, this,
            &MainWindow::menuFileOpenLogDir);
    file->addSeparator();
    connect(addEntry(file, QStringLiteral("Quit(&Q)"), QKeySequence(QStringLiteral("Ctrl+Q"))),
            &QAction::triggered, this, &MainWindow::menuFileQuit);

    QMenu *edit = mainMenuBar->addMenu(QStringLiteral("Edit(&E)"));
    connect(addEntry(edit, QStringLiteral("Add New Rule(&I)"), QKeySequence(QStringLiteral("Ctrl+I"))),
            &QAction::triggered, this, &MainWindow::menuEditInsert);
    connect(addEntry(edit, QStringLiteral("Delete Rule(&D)"), QKeySequence(QKeySequence::Delete)),
            &QAction::triggered, this, &MainWindow::menuEditDelete);
    selectHostsMenu = edit->addMenu(QStringLiteral("Select hosts(&S)"));
    connect(selectHostsMenu, &QMenu::aboutToShow, this, &MainWindow::menuEditSelectPrepare);
    edit->addSeparator();
    connect(addEntry(edit, QStringLiteral("Options(&O)..."), QKeySequence(Qt::Key_F9)), &QAction::triggered,
            this, &MainWindow::menuEditOptions);

    QMenu *control = mainMenuBar->addMenu(QStringLiteral("Control(&C)"));
    connect(addEntry(control, QStringLiteral("Flush DNS Cache(&F)"), QKeySequence(Qt::Key_F5)),
            &QAction::triggered, this, &MainWindow::menuControlFlush);
    connect(addEntry(control, QStringLiteral("Reload hosts Files(&R)"), QKeySequence(Qt::Key_F6)),
            &QAction::triggered, this, &MainWindow::menuControlReload);
    connect(addEntry(control, QStringLiteral("Set Primary DNS to 127.0.0.1(&D)")), &QAction::triggered, this,
            &MainWindow::menuControlSetDNS);
    connect(addEntry(control, QStringLiteral("Roll Back DNS(&B)")), &QAction::triggered, this,
            &MainWindow::menuControlRollBack);
    control->addSeparator();
    serverMenu = control->addMenu(QStringLiteral("Server(&S)"));
    connect(serverMenu, &QMenu::aboutToShow, this, &MainWindow::menuControlServerPrepare);
    logMenu = control->addMenu(QStringLiteral("Log(&L)"));
    connect(logMenu, &QMenu::aboutToShow, this, &MainWindow::menuControlLogPrepare);

    QMenu *help = mainMenuBar->addMenu(QStringLiteral("Help(&H)"));
    connect(addEntry(help, QStringLiteral("Online FAQ(&O)"), QKeySequence(Qt::Key_F1)), &QAction::triggered,
            this, &MainWindow::menuHelpOnlineFAQ);
    connect(addEntry(help, QStringLiteral("What's New(&W)")), &QAction::triggered, this,
            &MainWindow::menuHelpWhatsNew);
    connect(addEntry(help, QStringLiteral("Check for Updates(&C)")), &QAction::triggered, this,
            &MainWindow::menuHelpCheckUpdate);
    help->addSeparator();
    connect(addEntry(help, QStringLiteral("About Tarnowlock(&A)...")), &QAction::triggered, this,
            &MainWindow::aboutPanelClicked);
}

void MainWindow::createTray()
{
    trayMenu = std::make_unique<QMenu>();
    QAction *open = trayMenu->addAction(QStringLiteral("Open Tarnowlock"));
    QFont bold = open->font();
    bold.setWeight(QFont::Bold);
    open->setFont(bold);
    connect(open, &QAction::triggered, this, &QWidget::showNormal);
    trayMenu->addSeparator();
    connect(trayMenu->addAction(QStringLiteral("Open System hosts(&O)")), &QAction::triggered, this,
            &MainWindow::menuFileOpenSys);
    connect(trayMenu->addAction(QStringLiteral("Open System hosts Dir(&D)")), &QAction::triggered, this,
            &MainWindow::menuFileOpenSysDir);
    connect(trayMenu->addAction(QStringLiteral("Flush DNS Cache(&F)")), &QAction::triggered, this,
            &MainWindow::menuControlFlush);
    connect(trayMenu->addAction(QStringLiteral("Reload hosts Files(&R)")), &QAction::triggered, this,
            &MainWindow::menuControlReload);
    trayMenu->addSeparator();
    connect(trayMenu->addAction(QStringLiteral("Options")), &QAction::triggered, this,
            &MainWindow::menuEditOptions);
    trayMenu->addSeparator();
    connect(trayMenu->addAction(QStringLiteral("Quit(&Q)")), &QAction::triggered, qApp,
            &QCoreApplication::quit);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(trayMenu.get());
    setWindowIcon(QIcon(QStringLiteral("Tray.ico")));
    trayIcon->setIcon(QIcon(QStringLiteral(":/Resources/icon/Tray.png")));
    trayIcon->setVisible(true);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::trayActivated);
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
    platform.startElevated(executable, [instance = QPointer<SingleInstance>(instance)](bool started) {
        if (started)
            QCoreApplication::quit();
        else if (instance)
            instance->isRunning(); // declined: claim again and run on unchanged
    });
}

void MainWindow::cleanUp()
{
    hide();
    trayIcon->setVisible(false);
    if (listsServed)
        logPanel->appendLog(QStringLiteral("The DNS server stops: the lists it served block nothing until "
                                           "Tarnowlock runs again"),
                            LogLevel::Emphasis, false);
    serverPanel->Off();
    logPanel->save();
}

bool MainWindow::listsToServer() const
{
    return optionsPanel->getSetting(SettingKey::lists) == ListsIn::dnsServer;
}

bool MainWindow::serverCanServe() const
{
    return serverPanel->serverState() != ServerState::Off && serverPanel->dnsPointsHere();
}

namespace {

// The file's bytes, or false when it cannot be read.
bool readWhole(const QString &path, QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    content = file.readAll();
    return file.error() == QFileDevice::NoError;
}

} // namespace

void MainWindow::applyHostsFiles()
{
    QStringList names;
    QStringList sources;
    for (const auto &entry : optionsPanel->hostsList) {
        if (!entry->selected)
            continue;
        names << entry->name;
        sources << libraryPath(entry->name);
    }
    const QString display = quotedSelection(names);
    logPanel->appendLog(QStringLiteral("Applying ") + display + QStringLiteral("..."), LogLevel::Begins,
                        false);
    if (names.isEmpty()) {
        // Writing nothing over the hosts file would only wipe it.
        logPanel->appendLog(
            QStringLiteral("No hosts file selected! %1 left as it is").arg(platform.systemHostsPath()),
            LogLevel::Fails, false);
        return;
    }
    if (sources.contains(QString())) {
        logPanel->appendLog(
            QStringLiteral("Load hosts file failed! A selected name is not a file of the hosts folder"),
            LogLevel::Fails, false);
        return;
    }
    for (int at = 0; at < sources.size(); ++at) {
        // Not fetched yet, or deleted: the others alone would drop its rules unnoticed.
        if (!QFileInfo(sources.at(at)).isFile()) {
            logPanel->appendLog(
                QStringLiteral("Load hosts file failed! '%1' is not in the hosts folder").arg(names.at(at)),
                LogLevel::Fails, false);
            return;
        }
    }
    const bool serve = listsToServer() && serverCanServe();
    if (listsToServer() && !serve)
        logPanel->appendLog((serverPanel->serverState() == ServerState::Off
                                 ? QStringLiteral("The DNS server is off: %1 go into %2")
                                 : QStringLiteral("DNS is not pointed at the DNS server: %1 go into %2"))
                                .arg(display, platform.systemHostsPath()),
                            LogLevel::Emphasis, false);

    QByteArray hosts;
    QStringList servedNames;
    QStringList served;
    bool read = true;
    bool write = true;
    if (serve) {
        // The machine's own lines as they stand now, a user's edit since the start included.
        QByteArray current;
        write = readWhole(platform.systemHostsPath(), current);
        hosts = withoutAppliedLists(current);
        write = write && hosts != current;
        for (int at = 0; at < names.size(); ++at) {
            if (names.at(at) == defaultHostsName)
                continue;
            servedNames << names.at(at);
            served << sources.at(at);
        }
    } else {
        // The lists framed by their markers, staged in one file: the refresh of default.hosts leaves
        // them out, so the next apply does not write them twice.
        QList<AppliedList> lists;
        for (int at = 0; at < sources.size(); ++at) {
            QByteArray content;
            read = read && readWhole(sources.at(at), content);
            lists.append({names.at(at), content});
        }
        hosts = appliedHosts(lists);
    }
    QTemporaryFile staged;
    if (write && (!read || !staged.open() || staged.write(hosts) != hosts.size() || !staged.flush() ||
                  !platform.writeHostsFile({staged.fileName()}))) {
        const QString reason = platform.lastWriteFailure();
        logPanel->appendLog(QStringLiteral("Load hosts file failed! ") +
                                (reason.isEmpty() ? QStringLiteral("Please 'Run as administrator'") : reason),
                            LogLevel::Fails, false);
        return;
    }
    serverPanel->setServedLists(served);
    listsServed = serve;
    if (serverPanel->serverState() != ServerState::Off)
        serverPanel->loadHosts();
    else
        applyServerMode(); // a server that could not listen at its start tries again
    if (!served.isEmpty())
        logPanel->appendLog(QStringLiteral("%1 served by the DNS server; %2 keeps the machine's own lines")
                                .arg(quotedSelection(servedNames), platform.systemHostsPath()),
                            LogLevel::Plain, false);
    logPanel->appendLog(display + QStringLiteral(" applied!"), LogLevel::Succeeds, false);
}

void MainWindow::keepListsInEffect()
{
    if ((listsToServer() && serverCanServe()) != listsServed)
        applyHostsFiles();
}

void MainWindow::menuFileOpenSys()
{
    openInEditor(platform, logPanel, optionsPanel->getSetting(SettingKey::editor), platform.systemHostsPath(),
                 QString());
}

void MainWindow::menuFileOpenSysDir()
{
    platform.showFolder(platform.systemEtcDir());
}

void MainWindow::menuFileCreateNew()
{
    // An unnamed document that the editor offers to save in the library.
    openInEditor(platform, logPanel, optionsPanel->getSetting(SettingKey::editor), QString(), hostsDir);
}

void MainWindow::menuFileImport()
{
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, QString(), QString(), QStringLiteral("hosts files (*.hosts hosts);;All files (*)"));
    importHostsFiles(paths, hostsDir, *logPanel);
}

void MainWindow::menuFileOpenHostsDir()
{
    platform.showFolder(hostsDir);
}

void MainWindow::menuFileOpenLogDir()
{
    platform.showFolder(logDir);
}

void MainWindow::menuFileQuit()
{
    QCoreApplication::quit();
}

void MainWindow::menuEditLaunch()
{
    // Kept for callers of the window's interface; no entry leads here.
}

void MainWindow::menuEditInsert()
{
    serverPanel->insNewRule();
}

void MainWindow::menuEditDelete()
{
    serverPanel->delCurrentRow();
}

void MainWindow::fillChoiceMenu(QMenu *menu, QSignalMapper *&mapper, const QStringList &texts,
                                const QList<bool> &checked, void (MainWindow::*slot)(int))
{
    menu->clear();
    if (mapper)
        mapper->deleteLater();
    mapper = new QSignalMapper(this);
    connect(mapper, &QSignalMapper::mappedInt, this, slot);
    for (int i = 0; i < texts.size(); ++i) {
        QAction *action = menu->addAction(texts.at(i));
        action->setCheckable(true);
        action->setChecked(checked.at(i));
        connect(action, &QAction::triggered, mapper, qOverload<>(&QSignalMapper::map));
        mapper->setMapping(action, i);
    }
}

namespace {

QStringList itemsOf(const QComboBox *combo, QList<bool> *current)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) {
        texts << combo->itemText(i);
        *current << (i == combo->currentIndex());
    }
    return texts;
}

} // namespace

void MainWindow::menuEditSelectPrepare()
{
    optionsPanel->loadHostsList();
    QStringList names;
    QList<bool> selected;
    for (const auto &entry : optionsPanel->hostsList) {
        names << entry->name;
        selected << entry->selected;
    }
    fillChoiceMenu(selectHostsMenu, selectHostsMapper, names, selected, &MainWindow::menuEditSelect);
}

void MainWindow::menuEditSelect(int id)
{
    if (QCheckBox *box = optionsPanel->selectBox(id))
        box->setChecked(!box->isChecked());
    optionsPanel->okButtonClicked();
    applyOptions();
    applyHostsFiles();
}

void MainWindow::menuEditOptions()
{
    optionsPanel->launchBox->setChecked(optionsPanel->getSetting(SettingKey::launch) == QLatin1String("Yes"));
    optionsPanel->loadServerOption();
    optionsPanel->loadListsOption();
    optionsPanel->loadLogOption();
    QList<bool> before;
    for (int i = 0; i < int(optionsPanel->hostsList.size()); ++i) {
        const bool selected = optionsPanel->hostsList.at(i)->selected;
        if (QCheckBox *box = optionsPanel->selectBox(i))
            box->setChecked(selected);
        before << selected;
    }
    if (optionsPanel->exec() != QDialog::Accepted)
        return;
    applyOptions();
    bool selectionChanged = before.size() != int(optionsPanel->hostsList.size());
    for (int i = 0; !selectionChanged && i < before.size(); ++i)
        selectionChanged = before.at(i) != optionsPanel->hostsList.at(i)->selected;
    logPanel->setStatus(optionsPanel->getSetting(SettingKey::log));
    if (selectionChanged)
        applyHostsFiles();
    applyServerMode();
    keepListsInEffect();
}

void MainWindow::menuControlFlush()
{
    serverPanel->flushDNSCache();
}

void MainWindow::menuControlReload()
{
    applyHostsFiles();
}

void MainWindow::menuControlSetDNS()
{
    serverPanel->addDNSServer();
    keepListsInEffect();
}

void MainWindow::menuControlRollBack()
{
    serverPanel->delDNSServer();
    keepListsInEffect();
}

void MainWindow::menuControlServerPrepare()
{
    QList<bool> current;
    const QStringList texts = itemsOf(optionsPanel->serverCombo, &current);
    fillChoiceMenu(serverMenu, serverMapper, texts, current, &MainWindow::menuControlServer);
}

void MainWindow::menuControlServer(int id)
{
    optionsPanel->serverCombo->setCurrentIndex(id);
    optionsPanel->save();
    applyServerMode();
    keepListsInEffect();
}

void MainWindow::menuControlLogPrepare()
{
    QList<bool> current;
    const QStringList texts = itemsOf(optionsPanel->logCombo, &current);
    fillChoiceMenu(logMenu, logMapper, texts, current, &MainWindow::menuControlLog);
}

void MainWindow::menuControlLog(int id)
{
    optionsPanel->logCombo->setCurrentIndex(id);
    optionsPanel->save();
    logPanel->setStatus(optionsPanel->getSetting(SettingKey::log));
}

void MainWindow::menuHelpOnlineFAQ()
{
    openUrl(productSite + QStringLiteral("/faq/"));
}

void MainWindow::menuHelpWhatsNew()
{
    openUrl(productSite + QStringLiteral("/changelog.txt"));
}

void MainWindow::menuHelpCheckUpdate()
{
    openUrl(productSite + QStringLiteral("/download/"));
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
        showCentered();
}

void MainWindow::openHostsClicked()
{
    menuFileOpenSys();
}

void MainWindow::reloadHostsClicked()
{
    applyHostsFiles();
}

void MainWindow::flushDNSClicked()
{
    serverPanel->flushDNSCache();
}

void MainWindow::aboutPanelClicked()
{
    aboutPanel->exec();
}

void MainWindow::optionsPanelClicked()
{
    menuEditOptions();
}

void MainWindow::helpActionTriggered()
{
    openUrl(productSite + QStringLiteral("/faq"));
}

void MainWindow::applyOptions()
{
    QStringList names;
    for (const auto &entry : optionsPanel->hostsList) {
        if (entry->selected)
            names << entry->name;
    }
    const QString summary = selectionSummary(names);
    setWindowTitle(summary + QStringLiteral(" - Tarnowlock ") + appVersion);
    // A server that could not listen is not said to serve.
    const bool serving = serverPanel->serverState() != ServerState::Off;
    trayIcon->setToolTip(summary +
                         (serving ? QStringLiteral(" is Serving...") : QStringLiteral(" - Server is off")));
}

void MainWindow::applyServerMode()
{
    serverPanel->setStatus(optionsPanel->getSetting(SettingKey::server));
    applyOptions();
}

void MainWindow::openUrl(const QString &url)
{
    QDesktopServices::openUrl(QUrl(url));
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
