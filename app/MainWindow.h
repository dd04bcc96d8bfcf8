#pragma once

#include <QMainWindow>

class Platform;
class QGridLayout;
class QMenu;
class QMenuBar;
class SingleInstance;
class UI_LogPanel;
class UI_ServerPanel;

// The program's one window: menu bar, panels, and the start-up and shut-down of the whole run.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // `instance` is the single-instance claim that an elevated restart gives up; may be null. The
    // DNS server listens on `dnsPort` of 127.0.0.1.
    MainWindow(int argumentCount, Platform &platform, SingleInstance *instance = nullptr, quint16 dnsPort = 53,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    UI_LogPanel *logPanelWidget() const { return logPanel; }
    UI_ServerPanel *serverPanelWidget() const { return serverPanel; }
    QMenuBar *menuBarWidget() const { return mainMenuBar; }

public slots:
    void createNormal();
    void createAskAdmin();
    void runAsAdmin();
    void cleanUp();
    void menuFileQuit();
    void applyOptions();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createMenus();
    void showCentered();

    int argumentCount;
    Platform &platform;
    SingleInstance *instance;
    quint16 dnsPort;
    QWidget *centralWidget = nullptr;
    QGridLayout *gridLayout = nullptr;
    QMenuBar *mainMenuBar = nullptr;
    UI_ServerPanel *serverPanel = nullptr;
    UI_LogPanel *logPanel = nullptr;
};
