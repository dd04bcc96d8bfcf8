#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <memory>

class Platform;
class QGridLayout;
class QMenu;
class QMenuBar;
class QSignalMapper;
class SingleInstance;
class UI_AboutPanel;
class UI_LogPanel;
class UI_OptionsPanel;
class UI_ServerPanel;

// The program's one window: menu bar, panels and tray icon, and the start-up and shut-down of the
// whole run.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // `instance` is the single-instance claim that an elevated restart gives up; may be null. The
    // DNS server listens on `dnsPort` of 127.0.0.1.
    MainWindow(int argumentCount, Platform &platform, SingleInstance *instance = nullptr,
               quint16 dnsPort = 53, QWidget *parent = nullptr);
    ~MainWindow() override;

    UI_LogPanel *logPanelWidget() const { return logPanel; }
    UI_ServerPanel *serverPanelWidget() const { return serverPanel; }
    UI_OptionsPanel *optionsPanelWidget() const { return optionsPanel; }
    QMenuBar *menuBarWidget() const { return mainMenuBar; }
    QMenu *trayMenuWidget() const { return trayMenu.get(); }
    QSystemTrayIcon *trayIconWidget() const { return trayIcon; }

    // Puts the selected lists into effect: written over the system hosts file, or with the Lists
    // setting "DNS server" answered by the running server while the file keeps the machine's own
    // lines. A running server reloads its rules.
    void applyHostsFiles();

public slots:
    // Shows the window in front of the others, active: what a second start's hand-over asks for.
    void showInFront();
    void createNormal();
    void createAskAdmin();
    void runAsAdmin();
    void cleanUp();
    void menuFileOpenSys();
    void menuFileOpenSysDir();
    void menuFileCreateNew();
    void menuFileImport();
    void menuFileOpenHostsDir();
    void menuFileOpenLogDir();
    void menuFileQuit();
    void menuEditLaunch();
    void menuEditInsert();
    void menuEditDelete();
    void menuEditSelectPrepare();
    void menuEditSelect(int id);
    void menuEditOptions();
    void menuControlFlush();
    void menuControlReload();
    void menuControlSetDNS();
    void menuControlRollBack();
    void menuControlServerPrepare();
    void menuControlServer(int id);
    void menuControlLogPrepare();
    void menuControlLog(int id);
    void menuHelpOnlineFAQ();
    void menuHelpWhatsNew();
    void menuHelpCheckUpdate();

private slots:
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void openHostsClicked();
    void reloadHostsClicked();
    void flushDNSClicked();
    void aboutPanelClicked();
    void optionsPanelClicked();
    void helpActionTriggered();
    void applyOptions();
    void openUrl(const QString &url);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Starts, switches or stops the server as the stored mode says; the tray's tool tip follows.
    void applyServerMode();
    bool listsToServer() const;
    // The server can answer the lists: it runs and the machine's DNS is pointed at it.
    bool serverCanServe() const;
    // Places the selection again when where it takes effect has changed: the server stopped or
    // started, DNS was rolled back or set, or the Lists setting changed.
    void keepListsInEffect();
    void createMenus();
    void createTray();
    void showCentered();
    // Rebuilds a choice sub-menu: one checkable entry per text, `checked` ticked, each mapped to
    // its index for `slot`.
    void fillChoiceMenu(QMenu *menu, QSignalMapper *&mapper, const QStringList &texts,
                        const QList<bool> &checked, void (MainWindow::*slot)(int));

    int argumentCount;
    Platform &platform;
    SingleInstance *instance;
    quint16 dnsPort;
    QWidget *centralWidget = nullptr;
    QGridLayout *gridLayout = nullptr;
    QMenuBar *mainMenuBar = nullptr;
    QMenu *selectHostsMenu = nullptr;
    QMenu *serverMenu = nullptr;
    QMenu *logMenu = nullptr;
    UI_ServerPanel *serverPanel = nullptr;
    UI_LogPanel *logPanel = nullptr;
    UI_AboutPanel *aboutPanel = nullptr;
    UI_OptionsPanel *optionsPanel = nullptr;
    std::unique_ptr<QMenu> trayMenu; // no parent widget: the tray shows it over any window
    QSystemTrayIcon *trayIcon = nullptr;
    // The mappers of the three choice sub-menus; each preparation replaces its menu's.
    QSignalMapper *selectHostsMapper = nullptr;
    QSignalMapper *serverMapper = nullptr;
    QSignalMapper *logMapper = nullptr;
    // The last placement left the lists to the server.
    bool listsServed = false;
};
