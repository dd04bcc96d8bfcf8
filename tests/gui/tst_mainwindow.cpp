#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "dns/UI_ServerPanel.h"
#include "log/UI_LogPanel.h"
#include "options/UI_OptionsPanel.h"
#include "tests/support/DnsTestClient.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/LogText.h"
#include "tests/support/SqlFile.h"
#include "tests/support/TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QTest>
#include <QTimer>

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<FakePlatform> platform;
    std::unique_ptr<MainWindow> window;

private slots:
    void init()
    {
        window.reset();
        folder.reset();
        folder = std::make_unique<ProgramFolder>();
        // CR LF and bytes that are no UTF-8 must reach the hosts file as they are; escape.hosts lies outside.
        for (const char *name : {"a", "b", "c", "../escape"})
            QVERIFY(writeWholeFile(QString("hosts/%1.hosts").arg(name),
                                   QByteArray("192.0.2.1 *.") + name + ".test\r\n# \xff\n"));
        platform = std::make_unique<FakePlatform>();
        platform->hostsFile = folder->path("etc/hosts");
        QVERIFY(folder->isValid() && writeWholeFile(platform->hostsFile, "old hosts\n"));
        platform->store.add("{A}", "192.0.2.53", NameServerStore::absent);
        QVERIFY(createSettingsWithoutLists("settings") &&
                runSql("settings", {"update General set Value='none' where Key='Editor'"})
                    .isEmpty()); // cannot start
        // An argument starts it in the tray; port 0 keeps the server off the machine's 53.
        window = std::make_unique<MainWindow>(2, *platform, nullptr, 0);
    }

    // The shield gives the instance up while the prompt is open, so that the elevated copy can take
    // it, and takes it back when the prompt is declined.
    void elevationGivesTheInstanceUp()
    {
        SingleInstance instance(folder->path());
        MainWindow shielded(2, *platform, &instance, 0);
        std::optional<bool> free;
        platform->asking = [&] { free = !SingleInstance(folder->path()).isRunning(); };
        shielded.runAsAdmin();
        QCOMPARE(free, std::optional<bool>(true));
        QVERIFY(SingleInstance(folder->path()).isRunning());
    }

    // A server that could not listen at the start listens from the next Reload on, in the chosen
    // mode; one the user has switched Off stays off.
    void reloadStartsAServerThatCouldNotListen_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("outcome"); // for x.a.test, which only the wildcard *.a.test matches
        QTest::newRow("wildcard") << "Wildcard"
                                  << "192.0.2.1";
        QTest::newRow("regular expression") << "Regular Expression"
                                            << "servfail";
        QTest::newRow("switched off") << "Off"
                                      << "no reply";
    }
    void reloadStartsAServerThatCouldNotListen()
    {
        QFETCH(QString, mode);
        QFETCH(QString, outcome);
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress::LocalHost, 0, QUdpSocket::DontShareAddress));
        const quint16 port = taken.localPort();
        QVERIFY(runSql("settings", {"update General set Value='" + mode + "' where Key='Server'"}).isEmpty());
        MainWindow started(2, *platform, nullptr, port);
        QCOMPARE(started.serverPanelWidget()->serverState(), int(ServerState::Off));
        QVERIFY(started.trayIconWidget()->toolTip().endsWith("Server is off"));
        taken.close();
        started.optionsPanelWidget()->hostsList.front()->selected = true;
        started.menuControlReload();
        DnsTestClient client;
        QCOMPARE(client.ask(dnsQuery(7, wireName("x.a.test")), port, outcome == "no reply" ? 300 : 5000),
                 outcome);
        QCOMPARE(started.trayIconWidget()->toolTip().endsWith("is Serving..."), outcome != "no reply");
    }

    void apply_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("line"); // in the last log line
        QTest::newRow("lists in table order") << "apply" << QStringList{"b.hosts", "a.hosts"} << "applied!";
        QTest::newRow("chosen in the Options dialog") << "Options" << QStringList{"a.hosts"} << "applied!";
        QTest::newRow("nothing selected: refused") << "apply" << QStringList() << "No hosts file selected!";
        QTest::newRow("write failed: old file kept") << "fails" << QStringList{"a.hosts"} << "failed!";
        QTest::newRow("a list not fetched yet: refused, named")
            << "missing" << QStringList{"a.hosts", "b.hosts"} << "'b.hosts' is not in the hosts folder";
        QTest::newRow("name outside the hosts folder: refused")
            << "apply" << QStringList{"../escape.hosts"} << "not a file of the hosts folder";
    }
    void apply()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, selected);
        QFETCH(QString, line);
        UI_OptionsPanel &options = *window->optionsPanelWidget();
        auto &lists = options.hostsList;
        lists.back()->name = "../escape.hosts"; // c.hosts, as a settings file may name it
        platform->writesSucceed = how != "fails";
        QVERIFY(how != "missing" || QFile::remove("hosts/b.hosts"));
        if (how == "Options") {
            QTimer::singleShot(0, &options, [&] {
                options.selectBox(0)->setChecked(true); // a.hosts
                options.okButtonClicked();
            });
            window->menuEditOptions();
        } else {
            for (const auto &entry : lists)
                entry->selected = selected.contains(entry->name);
            window->applyHostsFiles();
        }
        QByteArray expected;
        for (const auto &entry : lists) { // each between its markers
            const QByteArray name = entry->name.toUtf8() + "\n";
            if (entry->selected)
                expected += "# >>> Tarnowlock: " + name + readWholeFile("hosts/" + name.trimmed()) +
                            "# <<< Tarnowlock: " + name;
        }
        QCOMPARE(readWholeFile(platform->hostsFile), line == "applied!" ? expected : "old hosts\n");
        QVERIFY(logMessages(*window->logPanelWidget()).last().contains(line));
        DnsTestClient client;
        const quint16 port = window->serverPanelWidget()->serverSocket()->localPort();
        QCOMPARE(client.ask(dnsQuery(7, wireName("x.a.test")), port, 5000),
                 line == "applied!" ? "192.0.2.1" : "servfail");
    }

    // With the lists left to the server, the hosts file keeps its lines while the server runs with DNS
    // pointed at it; the lists go into the file, and out again, as that changes.
    void listsTakeEffect_data()
    {
        QTest::addColumn<QString>("lists");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("inFile"); // the lists are in the hosts file
        QTest::addColumn<QString>("line");
        const QString server = "DNS server";
        QTest::newRow("served") << server << QStringList{"apply"} << false << "served by the DNS server";
        QTest::newRow("hosts file chosen") << "Hosts file" << QStringList{"apply"} << true << "applied!";
        QTest::newRow("server switched off")
            << server << QStringList{"apply", "off"} << true << "server is off";
        QTest::newRow("server on again")
            << server << QStringList{"apply", "off", "on"} << false << "served by";
        QTest::newRow("DNS rolled back") << server << QStringList{"apply", "back"} << true << "not pointed";
        QTest::newRow("DNS set again")
            << server << QStringList{"apply", "back", "set"} << false << "served by";
        QTest::newRow("off, then chosen")
            << "Hosts file" << QStringList{"off", "serve", "on"} << false << "served";
    }
    void listsTakeEffect()
    {
        QFETCH(QString, lists);
        QFETCH(QStringList, steps);
        QFETCH(bool, inFile);
        QFETCH(QString, line);
        QVERIFY(runSql("settings", {"update General set Value='" + lists + "' where Key='Lists'",
                                    "insert into General select 'Lists', '" + lists +
                                        "' where not exists (select 1 from General where Key='Lists')"})
                    .isEmpty());
        QVERIFY(writeWholeFile("hosts/default.hosts", "old hosts\n")); // after the others
        MainWindow started(2, *platform, nullptr, 0);
        UI_OptionsPanel &options = *started.optionsPanelWidget();
        for (int row = 0; row < int(options.hostsList.size()); ++row)
            options.selectBox(row)->setChecked(options.hostsList[row]->selected = row != 2); // not c.hosts
        for (const QString &step : steps) {
            if (step == "apply")
                started.applyHostsFiles();
            else if (step == "off" || step == "on")
                started.menuControlServer(step == "off" ? ServerState::Off : ServerState::Wildcard);
            else if (step == "serve") {
                options.listsCombo->setCurrentText("DNS server");
                options.save();
            } else
                step == "back" ? started.menuControlRollBack() : started.menuControlSetDNS();
        }
        QByteArray expected = "old hosts\n";
        if (inFile)
            expected = "# >>> Tarnowlock: a.hosts\n" + readWholeFile("hosts/a.hosts") +
                       "# <<< Tarnowlock: a.hosts\n" + "# >>> Tarnowlock: b.hosts\n" +
                       readWholeFile("hosts/b.hosts") + "# <<< Tarnowlock: b.hosts\n" + expected;
        QCOMPARE(readWholeFile(platform->hostsFile), expected);
        const QStringList messages = logMessages(*started.logPanelWidget());
        QVERIFY2(messages.filter(line).size() > 0, qPrintable(messages.join('\n')));
        const quint16 port = started.serverPanelWidget()->serverSocket()->localPort();
        if (started.serverPanelWidget()->serverState() != ServerState::Off) // from either place
            QCOMPARE(DnsTestClient().ask(dnsQuery(7, wireName("x.b.test")), port, 5000), "192.0.2.1");
    }

    void editorThatCannotStartIsLogged()
    {
        QVERIFY(window->internalWinId()); // also hidden: the end of the session reaches it
        window->menuFileCreateNew();
        QCOMPARE(logMessages(*window->logPanelWidget()).last(),
                 "Can't start the editor 'none'! Set one in the Options");
    }

    void cleanUpRollsBackAndSavesTheLog()
    {
        QCOMPARE(platform->store.nameServer("{A}"), QStringLiteral("127.0.0.1,192.0.2.53"));
        window->cleanUp();
        QCOMPARE(platform->store.nameServer("{A}"), QStringLiteral("192.0.2.53"));
        QCOMPARE(QDir("log").entryList(QDir::Files).size(), 1);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
