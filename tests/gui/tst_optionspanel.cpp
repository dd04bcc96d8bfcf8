#include "options/HostsColumns.h"
#include "options/UI_OptionsPanel.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/SqlFile.h"
#include "tests/support/TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

class TestOptionsPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder;
    FakePlatform platform;
    RecordingLog log;
    std::unique_ptr<UI_OptionsPanel> panel;

    // The lists as the dialog shows them: selected, source, frequency.
    QStringList shown() const
    {
        QStringList state;
        for (int row = 0; row < int(panel->hostsList.size()); ++row)
            state << QString::number(panel->selectBox(row)->isChecked()) +
                         panel->hostsTable->item(row, HostsColumn::Source)->text() +
                         panel->hostsTable->item(row, HostsColumn::Frequency)->text();
        return state;
    }

private slots:
    void init()
    {
        panel.reset();
        folder.reset();
        folder = std::make_unique<ProgramFolder>();
        QVERIFY(folder->isValid() && writeWholeFile("hosts/a.hosts", "old\n") &&
                writeWholeFile("hosts/b.hosts", "old\n"));
        QVERIFY(createSettingsWithoutLists("settings"));
        log.lines.clear();
        panel = std::make_unique<UI_OptionsPanel>(platform);
        panel->setLogPanel(&log);
        panel->loadHostsList();
    }

    // A start-up entry that cannot be changed says why in the log; one that can says nothing.
    void startupEntryRefusalLogged_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::newRow("refused") << "'/home/u/.config' is not owned by u";
        QTest::newRow("done") << "";
    }
    void startupEntryRefusalLogged()
    {
        QFETCH(QString, refusal);
        QCOMPARE(panel->launchBox->text(), "Along with session startup"); // an autostart entry on Linux
        platform.startupRefusal = refusal;
        panel->save();
        platform.startupRefusal.clear();
        QCOMPARE(log.lines.filter(QRegularExpression("^3 ")),
                 refusal.isEmpty() ? QStringList()
                                   : QStringList{"3 Can't change the start-up entry: " + refusal});
    }

    // An empty folder: no settings, no hosts/. A save and a second start keep the whole library.
    void firstStartKeepsTheLibrary()
    {
        panel.reset();
        QVERIFY(QDir("hosts").removeRecursively() && QFile::remove("settings"));
        QStringList first; // the ten built-in lists, each with its source
        for (int start = 1; start <= 2; ++start) {
            UI_OptionsPanel fresh(platform);
            fresh.loadHostsList();
            QStringList rows;
            for (const auto &entry : fresh.hostsList)
                rows << entry->name + (entry->updateUrl.isValid() ? ' ' + entry->updateUrl.toString() : "");
            QCOMPARE(rows.size(), 10);
            QCOMPARE(rows.filter(" ").size(), 10);
            QCOMPARE(start == 1 ? (first = rows) : rows, first);
            fresh.syncHostsFile(0); // default.hosts, the copy of the system hosts file, due at every start
            QCOMPARE(readWholeFile("hosts/default.hosts"), readWholeFile("/etc/hosts"));
            QVERIFY(fresh.hostsList[0]->selected);
            fresh.save();
        }
    }

    void buttons_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("over");    // bytes over 2 MiB of the two lists; -1: none selected
        QTest::addColumn<QString>("box"); // the icon of the box shown, and the answer
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("lists"); // where the lists take effect, as chosen before
        const int ok = QDialogButtonBox::Ok, apply = QDialogButtonBox::Apply;
        const QString file = "Hosts file", server = "DNS server";
        QTest::newRow("Apply stores the options") << apply << 0 << "" << true << server;
        QTest::newRow("Cancel stores nothing") << int(QDialogButtonBox::Cancel) << 0 << "" << false << file;
        QTest::newRow("Apply with nothing selected") << apply << -1 << "" << true << file;
        QTest::newRow("OK with nothing selected: refused") << ok << -1 << "information Ok" << false << file;
        QTest::newRow("OK over 2 MiB, Yes") << ok << 1 << "critical Yes" << true << file;
        QTest::newRow("OK over 2 MiB, No") << ok << 1 << "critical No" << false << file;
        QTest::newRow("OK over 2 MiB, served instead") << ok << 1 << "critical DNS server" << true << file;
        QTest::newRow("OK over 2 MiB, served: no question") << ok << 1 << "" << true << server;
    }
    void buttons()
    {
        QFETCH(int, button);
        QFETCH(int, over);
        QFETCH(QString, box);
        QFETCH(bool, stored);
        QFETCH(QString, lists);
        QVERIFY(writeWholeFile("hosts/a.hosts", QByteArray(1 << 20, 'a')));
        QVERIFY(writeWholeFile("hosts/b.hosts", QByteArray((1 << 20) + qMax(over, 0), 'b')));
        const QStringList before = shown();
        panel->hostsTable->item(0, HostsColumn::Source)->setText("http://192.0.2.1/a list");
        panel->hostsTable->item(1, HostsColumn::Frequency)->setText("30 Days");
        for (int row : {0, 1})
            panel->selectBox(row)->setChecked(over >= 0);
        const QStringList edited = shown();
        panel->listsCombo->setCurrentText(lists);
        MessageBoxAnswerer answerer(box.endsWith("Yes")      ? QMessageBox::Yes
                                    : box.endsWith("server") ? QMessageBox::Apply
                                                             : QMessageBox::No);
        panel->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::StandardButton(button))->click();
        QCOMPARE(answerer.shown.size(), int(!box.isEmpty()));
        QCOMPARE(answerer.shown.value(0).section('|', 0, 0), box.section(' ', 0, 0));
        QCOMPARE(panel->result() == QDialog::Accepted, stored && button == QDialogButtonBox::Ok);
        panel = std::make_unique<UI_OptionsPanel>(platform); // a new dialog, from the settings file
        panel->loadHostsList();
        QCOMPARE(shown(), stored ? edited : before);
        QCOMPARE(panel->getSetting("Lists"), box.endsWith("server") ? "DNS server"
                                             : stored               ? lists
                                                                    : "Hosts file");
    }

    void updates_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<HttpTestServer::Route>("route");
        QTest::addColumn<int>("frequency"); // days; the last update was yesterday
        QTest::addColumn<bool>("updated");
        QTest::addColumn<int>("boxes");
        const QByteArray body = QByteArray("0.0.0.0 *.new.test\n").repeated(1000);
        HttpTestServer::Route good = HttpTestServer::Route::serving(body), error = good, cut = good,
                              held = good;
        error.status = 404;
        cut.closeAfter = body.size() / 2;
        held.held = true;
        QTest::newRow("by hand: good download") << "hand" << good << -1 << true << 0;
        QTest::newRow("by hand: HTTP error page") << "hand" << error << -1 << false << 1;
        QTest::newRow("by hand: body cut off") << "hand" << cut << -1 << false << 1;
        QTest::newRow("by hand: cancelled") << "cancel" << held << -1 << false << 0;
        QTest::newRow("first one, list reloaded meanwhile: fetched") << "reload" << good << -1 << true << 0;
        QTest::newRow("at start, due: fetched") << "start" << good << 0 << true << 0;
        QTest::newRow("at start, due: HTTP error page") << "start" << error << 1 << false << 0;
        QTest::newRow("at start, not due: left alone") << "start" << good << 7 << false << 0;
    }
    void updates()
    {
        QFETCH(QString, how);
        QFETCH(HttpTestServer::Route, route);
        QFETCH(int, frequency);
        QFETCH(bool, updated);
        QFETCH(int, boxes);
        HttpTestServer server;
        QVERIFY2(server.isListening(), qPrintable(server.errorString()));
        server.setRoute("/a", route);
        const QDateTime yesterday = QDateTime::currentDateTime().addDays(-1);
        const bool first = how == "reload"; // a fresh folder's list: no file yet, never updated
        QVERIFY(!first || QFile::remove("hosts/a.hosts"));
        *panel->hostsList[0] =
            HostsEntry{false, "a.hosts", server.url("/a"), first ? QDateTime() : yesterday, frequency};
        MessageBoxAnswerer answerer(QMessageBox::Ok);
        how == "start" ? panel->performAutoUpdate() : panel->syncHostsFile(0);
        if (first)
            panel->loadHostsList();
        QTRY_COMPARE(server.heldCount(), int(how == "cancel"));
        if (how == "cancel")
            panel->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
        QTRY_COMPARE(log.lines.size(), frequency == 7 ? 0 : 2); // a start and an end line, or none
        QCOMPARE(readWholeFile("hosts/a.hosts"), updated ? route.body : QByteArray("old\n"));
        QCOMPARE(panel->hostsList[0]->lastUpdate.date(), updated ? QDate::currentDate() : yesterday.date());
        QCOMPARE(answerer.shown.size(), boxes);
    }
};

QTEST_MAIN(TestOptionsPanel)
#include "tst_optionspanel.moc"
