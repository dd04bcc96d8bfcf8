#include "app/MainWindow.h"
#include "dns/UI_ServerPanel.h"
#include "log/UI_LogPanel.h"
#include "options/UI_OptionsPanel.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/LogText.h"
#include "tests/support/SqlFile.h"
#include "tests/support/WholeFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalMapper>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

namespace {

constexpr quint16 anyPort = 0;

// A menu as text: one "text|shortcut" per entry, "-" for a separator, "text>" for a sub-menu.
QStringList describe(const QMenu *menu)
{
    QStringList entries;
    for (const QAction *action : menu->actions()) {
        if (action->isSeparator())
            entries << QStringLiteral("-");
        else if (action->menu())
            entries << action->text() + QLatin1Char('>');
        else
            entries << action->text() + QLatin1Char('|') + action->shortcut().toString();
    }
    return entries;
}

QMenu *menuNamed(const QList<QAction *> &actions, const QString &title)
{
    for (const QAction *action : actions) {
        if (action->menu() && action->text() == title)
            return action->menu();
    }
    return nullptr;
}

QMenu *subMenu(MainWindow &window, const QString &menu, const QString &sub)
{
    const QMenu *top = menuNamed(window.menuBarWidget()->actions(), menu);
    return top ? menuNamed(top->actions(), sub) : nullptr;
}

// Opens a sub-menu as a user would reach it: its preparation runs first.
QList<QAction *> prepared(QMenu *menu)
{
    emit menu->aboutToShow();
    return menu->actions();
}

QStringList checkedTexts(const QList<QAction *> &actions)
{
    QStringList texts;
    for (const QAction *action : actions) {
        if (action->isChecked())
            texts << action->text();
    }
    return texts;
}

// Runs `answer` on the options dialog once it is shown modally.
void whenModal(const std::function<void(QWidget *)> &answer)
{
    QTimer::singleShot(0, qApp, [answer] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            whenModal(answer);
            return;
        }
        answer(modal);
    });
}

void press(QWidget *dialog, QDialogButtonBox::StandardButton which)
{
    dialog->findChild<QDialogButtonBox *>()->button(which)->click();
}

QStringList storedSelection()
{
    return sqlRows(QStringLiteral("settings"), QStringLiteral("select Name from Hosts where Selected = 1"));
}

} // namespace

class TestMainWindowMenus : public QObject {
    Q_OBJECT

    FakePlatform platform;
    std::unique_ptr<QTemporaryDir> dir;
    QString previousDir;

    // A fresh program folder with these lists in hosts/ and a system hosts file of `hosts`.
    void freshFolder(const QMap<QString, QByteArray> &lists,
                     const QByteArray &hosts = "127.0.0.1 localhost\n")
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        QVERIFY(QDir().mkpath(QStringLiteral("hosts")));
        QVERIFY(QDir().mkpath(QStringLiteral("etc")));
        for (auto it = lists.begin(); it != lists.end(); ++it)
            QVERIFY(writeWholeFile(QStringLiteral("hosts/") + it.key(), it.value()));
        platform.hostsFile = dir->filePath(QStringLiteral("etc/hosts"));
        QVERIFY(writeWholeFile(platform.hostsFile, hosts));
        platform.writesSucceed = true;
        platform.calls.clear();
    }

private slots:
    void initTestCase() { previousDir = QDir::currentPath(); }
    void cleanupTestCase() { QDir::setCurrent(previousDir); }

    void menuTree_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("File") << "File(&F)"
                              << QStringList{"Open System hosts(&O)|Ctrl+O",
                                             "Open System hosts Dir(&D)|",
                                             "-",
                                             "Create New hosts(&N)...|Ctrl+N",
                                             "Import hosts Files(&I)...|Ctrl+Shift+N",
                                             "Open hosts Dir(&H)|",
                                             "Open Log Dir(&L)|",
                                             "-",
                                             "Quit(&Q)|Ctrl+Q"};
        QTest::newRow("Edit") << "Edit(&E)"
                              << QStringList{"Add New Rule(&I)|Ctrl+I", "Delete Rule(&D)|Del",
                                             "Select hosts(&S)>", "-", "Options(&O)...|F9"};
        QTest::newRow("Control") << "Control(&C)"
                                 << QStringList{"Flush DNS Cache(&F)|F5",
                                                "Reload hosts Files(&R)|F6",
                                                "Set Primary DNS to 127.0.0.1(&D)|",
                                                "Roll Back DNS(&B)|",
                                                "-",
                                                "Server(&S)>",
                                                "Log(&L)>"};
        QTest::newRow("Help") << "Help(&H)"
                              << QStringList{"Online FAQ(&O)|F1", "What's New(&W)|", "Check for Updates(&C)|",
                                             "-", "About Tarnowlock(&A)...|"};
    }
    void menuTree()
    {
        QFETCH(QString, menu);
        QFETCH(QStringList, entries);
        freshFolder({});
        MainWindow window(1, platform, nullptr, anyPort);
        QStringList titles;
        for (const QAction *action : window.menuBarWidget()->actions())
            titles << action->text();
        QCOMPARE(titles, (QStringList{"File(&F)", "Edit(&E)", "Control(&C)", "Help(&H)"}));
        QCOMPARE(describe(menuNamed(window.menuBarWidget()->actions(), menu)), entries);
    }

    void trayMenu()
    {
        freshFolder({});
        MainWindow window(1, platform, nullptr, anyPort);
        QCOMPARE(describe(window.trayMenuWidget()),
                 (QStringList{"Open Tarnowlock|", "-", "Open System hosts(&O)|", "Open System hosts Dir(&D)|",
                              "Flush DNS Cache(&F)|", "Reload hosts Files(&R)|", "-", "Options|", "-",
                              "Quit(&Q)|"}));
        QVERIFY(window.trayMenuWidget()->actions().first()->font().bold());
        QCOMPARE(window.trayIconWidget()->toolTip(), QStringLiteral("[default.hosts] is Serving..."));
    }

    void trayClickRecentres_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("recentred");
        QTest::newRow("click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << false;
    }
    void trayClickRecentres()
    {
        QFETCH(int, reason);
        QFETCH(bool, recentred);
        freshFolder({});
        MainWindow window(1, platform, nullptr, anyPort);
        const QRect centred = window.geometry();
        window.setGeometry(10, 20, 300, 200);
        window.hide();
        emit window.trayIconWidget()->activated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(window.isVisible(), recentred);
        QCOMPARE(window.geometry() == centred, recentred);
    }

    void openTarnowlockKeepsThePlace()
    {
        freshFolder({});
        MainWindow window(2, platform, nullptr, anyPort);
        QVERIFY(!window.isVisible());
        window.setGeometry(10, 20, 700, 500);
        window.trayMenuWidget()->actions().first()->trigger();
        QVERIFY(window.isVisible());
        QCOMPARE(window.geometry(), QRect(10, 20, 700, 500));
    }

    void selectHostsMirrorsTheLibrary()
    {
        freshFolder({{"b.hosts", "x\n"}, {"A.hosts", "y\n"}});
        MainWindow window(1, platform, nullptr, anyPort);
        QMenu *select = subMenu(window, "Edit(&E)", "Select hosts(&S)");
        QVERIFY(select);
        const QList<QAction *> actions = prepared(select);
        QStringList texts;
        for (const QAction *action : actions)
            texts << action->text();
        // default.hosts has no file here and is dropped; the files follow by name.
        QCOMPARE(texts, (QStringList{"A.hosts", "b.hosts"}));
        QVERIFY(checkedTexts(actions).isEmpty());
        // Opening again rebuilds it rather than adding to it.
        QCOMPARE(prepared(select).size(), 2);
    }

    void toggleFromTheMenuSavesTitlesAndApplies()
    {
        freshFolder({{"a.hosts", "0.0.0.0 *.a.test\n"}, {"b.hosts", "::1 *.b.test\n"}});
        MainWindow window(1, platform, nullptr, anyPort);
        QMenu *select = subMenu(window, "Edit(&E)", "Select hosts(&S)");
        prepared(select).at(1)->trigger(); // b.hosts on
        QCOMPARE(window.windowTitle(), QStringLiteral("[b.hosts] - Tarnowlock 0.3 Beta"));
        QCOMPARE(window.trayIconWidget()->toolTip(), QStringLiteral("[b.hosts] is Serving..."));
        QCOMPARE(readWholeFile(platform.hostsFile), QByteArray("::1 *.b.test\n"));
        QCOMPARE(storedSelection(), QStringList{"b.hosts"});
        QCOMPARE(window.serverPanelWidget()->hostRules().size(), 1);

        QList<QAction *> actions = prepared(select);
        QCOMPARE(checkedTexts(actions), QStringList{"b.hosts"});
        actions.at(0)->trigger(); // a.hosts on too
        QCOMPARE(readWholeFile(platform.hostsFile), QByteArray("0.0.0.0 *.a.test\n::1 *.b.test\n"));
        QCOMPARE(storedSelection(), (QStringList{"a.hosts", "b.hosts"}));
        QCOMPARE(window.windowTitle(), QStringLiteral("[a.hosts, b.hosts] - Tarnowlock 0.3 Beta"));
    }

    void toggleOffTheLastListIsRefused()
    {
        freshFolder({{"a.hosts", "0.0.0.0 *.a.test\n"}});
        MainWindow window(1, platform, nullptr, anyPort);
        QMenu *select = subMenu(window, "Edit(&E)", "Select hosts(&S)");
        prepared(select).at(0)->trigger();
        QCOMPARE(storedSelection(), QStringList{"a.hosts"});
        // Unticking the only list: OK refuses with its message box, nothing is stored or written.
        whenModal([](QWidget *box) { box->close(); });
        prepared(select).at(0)->trigger();
        QCOMPARE(storedSelection(), QStringList{"a.hosts"});
        QCOMPARE(readWholeFile(platform.hostsFile), QByteArray("0.0.0.0 *.a.test\n"));
    }

    void serverAndLogSubMenus()
    {
        freshFolder({});
        MainWindow window(1, platform, nullptr, anyPort);
        QMenu *server = subMenu(window, "Control(&C)", "Server(&S)");
        QList<QAction *> actions = prepared(server);
        QCOMPARE(actions.size(), 3);
        QCOMPARE(checkedTexts(actions), QStringList{"Wildcard"});
        actions.at(1)->trigger();
        QCOMPARE(window.serverPanelWidget()->serverState(), int(ServerState::RegularExpression));
        QCOMPARE(window.optionsPanelWidget()->getSetting("Server"), QStringLiteral("Regular Expression"));
        QCOMPARE(checkedTexts(prepared(server)), QStringList{"Regular Expression"});

        QMenu *log = subMenu(window, "Control(&C)", "Log(&L)");
        actions = prepared(log);
        QCOMPARE(checkedTexts(actions), QStringList{"Detailed"});
        actions.at(1)->trigger();
        QCOMPARE(window.logPanelWidget()->logStatus(), int(LogStatus::Brief));
        QCOMPARE(checkedTexts(prepared(log)), QStringList{"Brief"});
    }

    void applyWritesTheSelectionByteForByte_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::newRow("one list") << QStringList{"a.hosts"};
        QTest::newRow("blanks, quotes and ampersands")
            << QStringList{"my list.hosts", "it's & \"that\".hosts"};
        QTest::newRow("shell characters") << QStringList{"a;b|c$(d)`e`.hosts", "x.hosts"};
    }
    void applyWritesTheSelectionByteForByte()
    {
        QFETCH(QStringList, names);
        QMap<QString, QByteArray> lists;
        QByteArray expected;
        for (int i = 0; i < names.size(); ++i) {
            const QByteArray content = "0.0.0.0 *.list" + QByteArray::number(i) + ".test\r\n# \xff\n";
            lists.insert(names.at(i), content);
        }
        freshFolder(lists);
        MainWindow window(1, platform, nullptr, anyPort);
        UI_OptionsPanel *options = window.optionsPanelWidget();
        for (int row = 0; row < int(options->hostsList.size()); ++row) {
            const bool wanted = names.contains(options->hostsList.at(row)->name);
            options->selectBox(row)->setChecked(wanted);
            if (wanted)
                expected += lists.value(options->hostsList.at(row)->name);
        }
        options->save();
        window.applyHostsFiles();
        QCOMPARE(readWholeFile(platform.hostsFile), expected);
        QCOMPARE(
            logMessages(*window.logPanelWidget()).last(), QLatin1Char('"') + [&] {
                QStringList inOrder;
                for (const auto &entry : options->hostsList)
                    if (entry->selected)
                        inOrder << entry->name;
                return inOrder.join(", ");
            }() + "\" applied!");
    }

    void applyFailureLeavesTheOldFile_data()
    {
        QTest::addColumn<bool>("immutableFolder");
        QTest::newRow("write refused") << false;
        QTest::newRow("folder cannot be written") << true;
    }
    void applyFailureLeavesTheOldFile()
    {
        QFETCH(bool, immutableFolder);
        freshFolder({{"a.hosts", "0.0.0.0 *.a.test\n"}}, "the old hosts\n");
        MainWindow window(1, platform, nullptr, anyPort);
        window.optionsPanelWidget()->selectBox(0)->setChecked(true);
        window.optionsPanelWidget()->save();
        const int rulesBefore = window.serverPanelWidget()->hostRules().size();
        if (immutableFolder) {
            if (QProcess::execute("chattr", {"+i", dir->filePath("etc")}) != 0)
                QSKIP("chattr +i is not available here");
        } else {
            platform.writesSucceed = false;
        }
        window.applyHostsFiles();
        if (immutableFolder)
            QProcess::execute("chattr", {"-i", dir->filePath("etc")});
        QCOMPARE(readWholeFile(platform.hostsFile), QByteArray("the old hosts\n"));
        QCOMPARE(logMessages(*window.logPanelWidget()).last(),
                 QStringLiteral("Load hosts file failed! Please 'Run as administrator'"));
        QCOMPARE(window.serverPanelWidget()->hostRules().size(), rulesBefore);
    }

    void applyWithNothingSelectedIsRefused()
    {
        freshFolder({{"a.hosts", "0.0.0.0 *.a.test\n"}}, "the old hosts\n");
        MainWindow window(1, platform, nullptr, anyPort);
        platform.calls.clear();
        window.applyHostsFiles();
        QCOMPARE(readWholeFile(platform.hostsFile), QByteArray("the old hosts\n"));
        QVERIFY(platform.calls.filter("writeHostsFile").isEmpty());
        const QStringList messages = logMessages(*window.logPanelWidget());
        QCOMPARE(messages.at(messages.size() - 2), QStringLiteral("Applying \"\"..."));
        QVERIFY2(messages.last().startsWith("No hosts file selected!"), qPrintable(messages.last()));
    }

    void applyReloadsARunningServerOnly_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("rules");
        QTest::newRow("running: rules reloaded") << "Wildcard" << 2;
        QTest::newRow("off: stays off with no rules") << "Off" << 0;
    }
    void applyReloadsARunningServerOnly()
    {
        QFETCH(QString, mode);
        QFETCH(int, rules);
        freshFolder({{"a.hosts", "0.0.0.0 *.a.test\n::1 b.test *\n"}}, "");
        MainWindow window(1, platform, nullptr, anyPort);
        window.serverPanelWidget()->setStatus(mode);
        QCOMPARE(window.serverPanelWidget()->hostRules().size(), 0);
        window.optionsPanelWidget()->selectBox(0)->setChecked(true);
        window.optionsPanelWidget()->save();
        window.applyHostsFiles();
        QCOMPARE(window.serverPanelWidget()->hostRules().size(), rules);
        const QStringList messages = logMessages(*window.logPanelWidget());
        QCOMPARE(messages.last(), QStringLiteral("\"a.hosts\" applied!"));
        if (rules > 0)
            QVERIFY(messages.indexOf(QStringLiteral("Applying \"a.hosts\"...")) == messages.size() - 2);
    }

    void optionsAcceptedAppliesInOrder()
    {
        freshFolder({{"a.hosts", "0.0.0.0 *.a.test\n"}}, "");
        MainWindow window(1, platform, nullptr, anyPort);
        whenModal([](QWidget *dialog) {
            auto *options = qobject_cast<UI_OptionsPanel *>(dialog);
            options->selectBox(0)->setChecked(true);
            options->logCombo->setCurrentIndex(1);    // Brief
            options->serverCombo->setCurrentIndex(2); // Off
            press(dialog, QDialogButtonBox::Ok);
        });
        window.menuBarWidget()->actions().at(1)->menu()->actions().last()->trigger(); // Options(&O)...
        QCOMPARE(window.windowTitle(), QStringLiteral("[a.hosts] - Tarnowlock 0.3 Beta"));
        QCOMPARE(window.logPanelWidget()->logStatus(), int(LogStatus::Brief));
        QCOMPARE(readWholeFile(platform.hostsFile), QByteArray("0.0.0.0 *.a.test\n"));
        QCOMPARE(window.serverPanelWidget()->serverState(), int(ServerState::Off));
        // The log mode first, then the apply, then the server: the apply is logged in Brief mode.
        QVERIFY(logMessages(*window.logPanelWidget()).contains(QStringLiteral("\"a.hosts\" applied!")));
    }

    void optionsAcceptedWithoutSelectionChangeLeavesTheHostsFile()
    {
        freshFolder({{"a.hosts", "0.0.0.0 *.a.test\n"}}, "untouched\n");
        MainWindow window(1, platform, nullptr, anyPort);
        window.optionsPanelWidget()->selectBox(0)->setChecked(true);
        window.optionsPanelWidget()->save();
        platform.calls.clear();
        whenModal([](QWidget *dialog) { press(dialog, QDialogButtonBox::Ok); });
        window.menuEditOptions();
        QVERIFY(platform.calls.filter("writeHostsFile").isEmpty());
        QCOMPARE(readWholeFile(platform.hostsFile), QByteArray("untouched\n"));
    }

    void optionsCancelledChangesNothing()
    {
        freshFolder({{"a.hosts", "0.0.0.0 *.a.test\n"}}, "untouched\n");
        MainWindow window(1, platform, nullptr, anyPort);
        const QString title = window.windowTitle();
        whenModal([](QWidget *dialog) {
            auto *options = qobject_cast<UI_OptionsPanel *>(dialog);
            options->selectBox(0)->setChecked(true);
            options->logCombo->setCurrentIndex(2);
            options->serverCombo->setCurrentIndex(2);
            press(dialog, QDialogButtonBox::Cancel);
        });
        window.menuEditOptions();
        QCOMPARE(window.windowTitle(), title);
        QCOMPARE(window.logPanelWidget()->logStatus(), int(LogStatus::Detailed));
        QCOMPARE(window.serverPanelWidget()->serverState(), int(ServerState::Wildcard));
        QCOMPARE(readWholeFile(platform.hostsFile), QByteArray("untouched\n"));
        // The next showing starts again from the stored settings.
        whenModal([](QWidget *dialog) {
            auto *options = qobject_cast<UI_OptionsPanel *>(dialog);
            QVERIFY(!options->selectBox(0)->isChecked());
            QCOMPARE(options->logCombo->currentText(), QStringLiteral("Detailed"));
            press(dialog, QDialogButtonBox::Cancel);
        });
        window.menuEditOptions();
    }

    void fileEntriesReachThePlatform_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("call");
        QTest::newRow("open system hosts") << 0 << "startEditor xdg-open %hosts ";
        QTest::newRow("open system hosts dir") << 1 << "showFolder /etc/";
        QTest::newRow("create new") << 3 << "startEditor xdg-open  ./hosts/";
        QTest::newRow("open hosts dir") << 5 << "showFolder ./hosts/";
        QTest::newRow("open log dir") << 6 << "showFolder ./log/";
    }
    void fileEntriesReachThePlatform()
    {
        QFETCH(int, entry);
        QFETCH(QString, call);
        freshFolder({});
        MainWindow window(1, platform, nullptr, anyPort);
        platform.calls.clear();
        menuNamed(window.menuBarWidget()->actions(), "File(&F)")->actions().at(entry)->trigger();
        QCOMPARE(platform.calls, QStringList{QString(call).replace("%hosts", platform.hostsFile)});
    }

    void mappersDoNotPileUp()
    {
        freshFolder({});
        MainWindow window(1, platform, nullptr, anyPort);
        QMenu *server = subMenu(window, "Control(&C)", "Server(&S)");
        for (int i = 0; i < 50; ++i)
            prepared(server);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(window.findChildren<QSignalMapper *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    }
};

QTEST_MAIN(TestMainWindowMenus)
#include "tst_mainwindowmenus.moc"
