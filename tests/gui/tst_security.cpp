// What no input may reach: the server answers only on 127.0.0.1; file names holding shell
// characters go through apply, import, the editor and the copy of a local source as they are, and
// nothing runs them; stored names are bound, never spliced into SQL; an update writes only inside
// ./hosts/. The parts are real: the Linux platform on files of a temporary folder, a loopback socket,
// an SQLite file, a loopback HTTP server.
#include "app/HostsFiles.h"
#include "app/MainWindow.h"
#include "dns/UI_ServerPanel.h"
#include "log/UI_LogPanel.h"
#include "options/UI_OptionsPanel.h"
#include "platform/LinuxPlatform.h"
#include "settings/SettingsStore.h"
#include "tests/support/DnsTestClient.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/LogText.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/SqlFile.h"
#include "tests/support/WholeFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Port 0: the server binds any free loopback port, never the machine's 53.
constexpr quint16 anyPort = 0;
constexpr int replyWaitMs = 10000;

// Each name would create a file "pwned" in the working directory if a shell ever ran it.
void addShellNameRows()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("blanks") << "my  list .hosts";
    QTest::newRow("ampersand") << "a&touch pwned&.hosts";
    QTest::newRow("pipe") << "a|touch pwned|.hosts";
    QTest::newRow("semicolon") << "a;touch pwned;.hosts";
    QTest::newRow("double quotes") << "a\";touch pwned;\".hosts";
    QTest::newRow("single quotes") << "a';touch pwned;'.hosts";
    QTest::newRow("dollar and parentheses") << "$(touch pwned).hosts";
    QTest::newRow("back quotes") << "`touch pwned`.hosts";
    QTest::newRow("all at once") << "& | ; \" ' $ ( ) `touch pwned` $(touch pwned).hosts";
}

// A folder whose own name holds shell characters.
const QString shellFolder = QStringLiteral("sub & dir;$(touch pwned) 'q' \"d\"");

} // namespace

class TestSecurity : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void serverAnswersOnlyOn127001_data();
    void serverAnswersOnlyOn127001();
    void applyKeepsNames_data() { addShellNameRows(); }
    void applyKeepsNames();
    void importKeepsNames_data() { addShellNameRows(); }
    void importKeepsNames();
    void editorGetsNamesWhole_data() { addShellNameRows(); }
    void editorGetsNamesWhole();
    void localCopyKeepsNames_data() { addShellNameRows(); }
    void localCopyKeepsNames();
    void namesStoredIntact_data();
    void namesStoredIntact();
    void updatesStayInLibrary_data();
    void updatesStayInLibrary();

private:
    void makeWindow();
    int rowOf(const QString &name) const;
    // True when no file "pwned" exists anywhere under the test's folder.
    bool noShellRan() const;
    QString path(const QString &relative) const { return dir->filePath(relative); }

    std::unique_ptr<QTemporaryDir> dir;
    QString previousDir;
    LinuxPaths paths;
    std::unique_ptr<LinuxPlatform> platform;
    std::unique_ptr<MainWindow> window;
};

void TestSecurity::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    QVERIFY(QDir().mkpath(QStringLiteral("hosts")));
    QVERIFY(QDir().mkpath(shellFolder));
    // Every system file of the platform lies in the test's folder.
    paths.hostsFile = path(shellFolder + QStringLiteral("/hosts"));
    paths.etcDir = path(shellFolder) + QLatin1Char('/');
    paths.resolvConf = path(QStringLiteral("resolv.conf"));
    paths.resolvedRunDir = path(QStringLiteral("no-resolved"));
    paths.userAutostartDir = path(QStringLiteral("autostart"));
    paths.systemAutostartDir = path(QStringLiteral("xdg-autostart"));
    QVERIFY(writeWholeFile(paths.hostsFile, "127.0.0.1 localhost\n"));
    QVERIFY(writeWholeFile(paths.resolvConf, "nameserver 192.0.2.53\n"));
    platform = std::make_unique<LinuxPlatform>(paths);
}

void TestSecurity::cleanup()
{
    if (window)
        window->cleanUp();
    window.reset();
    platform.reset();
    QDir::setCurrent(previousDir);
    dir.reset();
}

void TestSecurity::makeWindow()
{
    window = std::make_unique<MainWindow>(1, *platform, nullptr, anyPort);
}

int TestSecurity::rowOf(const QString &name) const
{
    const auto &list = window->optionsPanelWidget()->hostsList;
    for (int row = 0; row < int(list.size()); ++row) {
        if (list.at(row)->name == name)
            return row;
    }
    return -1;
}

bool TestSecurity::noShellRan() const
{
    QDirIterator files(dir->path(), {QStringLiteral("pwned")}, QDir::Files | QDir::Hidden,
                       QDirIterator::Subdirectories);
    return !files.hasNext();
}

void TestSecurity::serverAnswersOnlyOn127001_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("answered");
    QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
    QTest::newRow("127.0.0.2") << "127.0.0.2" << false;
    QTest::newRow("127.255.255.254") << "127.255.255.254" << false;
    QTest::newRow("::1") << "::1" << false;
}

void TestSecurity::serverAnswersOnlyOn127001()
{
    QFETCH(QString, address);
    QFETCH(bool, answered);

    RecordingLog log;
    FakePlatform fake;
    fake.hostsFile = paths.hostsFile;
    QVERIFY(writeWholeFile(paths.hostsFile, "192.0.2.7 *.blocked.test\n"));
    UI_ServerPanel panel(log, fake, nullptr, anyPort, path(QStringLiteral("DNS")));
    panel.setStatus(QStringLiteral("Wildcard"));
    const quint16 port = panel.serverSocket()->localPort();
    QCOMPARE(panel.serverSocket()->localAddress(), QHostAddress(QHostAddress::LocalHost));

    const QHostAddress to(address);
    DnsTestClient client(to.protocol() == QAbstractSocket::IPv6Protocol
                             ? QHostAddress(QHostAddress::LocalHostIPv6)
                             : QHostAddress(QHostAddress::LocalHost));
    if (!client.isBound())
        QSKIP("no such loopback address here");
    const QByteArray asked = dnsQuery(0x5151, wireName("www.blocked.test"));
    client.send(asked, port, to);
    // A query to 127.0.0.1 after it: its answer comes after any answer to the first, as loopback
    // keeps the order.
    DnsTestClient local;
    QCOMPARE(local.ask(dnsQuery(0x5252, wireName("www.blocked.test")), port, replyWaitMs),
             QStringLiteral("192.0.2.7"));
    client.waitForReplies(1, answered ? replyWaitMs : 200);
    QCOMPARE(client.replies.size(), answered ? 1 : 0);
    if (answered)
        QCOMPARE(dnsOutcome(client.replies.first(), asked), QStringLiteral("192.0.2.7"));
    QCOMPARE(log.lines.filter(QStringLiteral("Question for")).size(), answered ? 2 : 1);
}

void TestSecurity::applyKeepsNames()
{
    QFETCH(QString, name);
    QVERIFY(writeWholeFile(QStringLiteral("hosts/") + name, "0.0.0.0 *.one.test\n"));
    QVERIFY(writeWholeFile(QStringLiteral("hosts/z.hosts"), "0.0.0.0 *.two.test\n"));
    makeWindow();
    auto &list = window->optionsPanelWidget()->hostsList;
    QCOMPARE(int(list.size()), 2);
    QByteArray expected;
    for (const auto &entry : list) {
        entry->selected = true;
        expected += readWholeFile(QStringLiteral("hosts/") + entry->name);
    }

    window->applyHostsFiles();
    QCOMPARE(readWholeFile(paths.hostsFile), expected);
    const QStringList messages = logMessages(*window->logPanelWidget());
    QVERIFY2(messages.last().endsWith(QLatin1String(" applied!")), qPrintable(messages.last()));
    QVERIFY(messages.last().contains(name));
    // The running server reloaded the rules from the written file.
    QCOMPARE(window->serverPanelWidget()->hostRules().size(), 2);
    QVERIFY(noShellRan());
}

void TestSecurity::importKeepsNames()
{
    QFETCH(QString, name);
    const QString source = path(shellFolder + QLatin1Char('/') + name);
    QVERIFY(writeWholeFile(source, "0.0.0.0 *.imported.test\n"));
    const QString library = path(shellFolder + QStringLiteral("/library"));
    QVERIFY(QDir().mkpath(library));

    RecordingLog log;
    importHostsFiles({source}, library, log);
    QCOMPARE(log.lines, QStringList{QStringLiteral("2 '%1' imported successfully!").arg(name)});
    QCOMPARE(readWholeFile(library + QLatin1Char('/') + name), QByteArray("0.0.0.0 *.imported.test\n"));
    QVERIFY(noShellRan());
}

void TestSecurity::editorGetsNamesWhole()
{
    QFETCH(QString, name);
    QVERIFY(writeWholeFile(QStringLiteral("hosts/") + name, "0.0.0.0 *.one.test\n"));
    // The editor notes its arguments, one a line, beside itself; it sits in a folder of shell
    // characters too.
    const QString editor = path(shellFolder + QStringLiteral("/edit"));
    QVERIFY(writeWholeFile(editor,
                           "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.part\" && mv \"$0.part\" \"$0.args\"\n"));
    QVERIFY(QFile::setPermissions(editor, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString noted = editor + QStringLiteral(".args");
    makeWindow();
    UI_OptionsPanel &options = *window->optionsPanelWidget();
    options.chooseEditor(editor);
    options.save();

    options.openHostsFile(rowOf(name));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(noted), replyWaitMs);
    QCOMPARE(QString::fromUtf8(readWholeFile(noted)), QStringLiteral("./hosts/") + name + QLatin1Char('\n'));

    QVERIFY(QFile::remove(noted));
    window->menuFileOpenSys();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(noted), replyWaitMs);
    QCOMPARE(QString::fromUtf8(readWholeFile(noted)), paths.hostsFile + QLatin1Char('\n'));
    QVERIFY(noShellRan());
}

void TestSecurity::localCopyKeepsNames()
{
    QFETCH(QString, name);
    const QString source = path(shellFolder + QLatin1Char('/') + name);
    QVERIFY(writeWholeFile(source, "0.0.0.0 *.copied.test\n"));
    QVERIFY(writeWholeFile(QStringLiteral("hosts/") + name, "old\n"));
    makeWindow();
    UI_OptionsPanel &options = *window->optionsPanelWidget();
    const int row = rowOf(name);
    QVERIFY(row >= 0);
    options.hostsList[row]->updateUrl = QUrl::fromLocalFile(source);

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    options.syncHostsFile(row);
    QCOMPARE(answerer.shown, QStringList());
    QCOMPARE(readWholeFile(QStringLiteral("hosts/") + name), QByteArray("0.0.0.0 *.copied.test\n"));
    const QStringList messages = logMessages(*window->logPanelWidget());
    QVERIFY2(messages.contains(QStringLiteral("'%1' updated successfully!").arg(name)),
             qPrintable(messages.join(QLatin1Char('\n'))));
    QVERIFY(noShellRan());
}

void TestSecurity::namesStoredIntact_data()
{
    QTest::addColumn<QString>("text"); // stored as a list's name and source, and as the editor
    QTest::newRow("single quote") << "it's.hosts";
    QTest::newRow("double quote") << "a\"b.hosts";
    QTest::newRow("statement in a name") << "x'); drop table Hosts; --.hosts";
    QTest::newRow("statement after a double quote") << "x\"); delete from General; --";
    QTest::newRow("placeholders") << "? :name @p $1 ?1.hosts";
    QTest::newRow("backslashes and percent") << "a\\'b%_%.hosts";
    QTest::newRow("non-ASCII") << QString::fromUtf8("списки ✓ 'ü'.hosts");
}

void TestSecurity::namesStoredIntact()
{
    QFETCH(QString, text);
    const QString file = path(QStringLiteral("settings"));
    const QUrl url(QStringLiteral("file:///lists/") + QString::fromLatin1(QUrl::toPercentEncoding(text)));
    {
        SettingsStore store(file, QStringLiteral("file:///etc/hosts"), QStringLiteral("xdg-open"));
        Settings settings;
        QCOMPARE(store.loadFromFile(settings), SettingsStore::LoadResult::Loaded); // creates the file
        settings.generalSettings[SettingKey::editor] = text;
        settings.hostsList.push_back(
            std::make_unique<HostsEntry>(HostsEntry{true, text, url, QDateTime(), 3}));
        QVERIFY(store.save(settings)); // into the existing file, through the insert statements
    }
    SettingsStore store(file, QStringLiteral("file:///etc/hosts"), QStringLiteral("xdg-open"));
    Settings settings;
    QCOMPARE(store.loadFromFile(settings), SettingsStore::LoadResult::Loaded);
    QCOMPARE(settings.getSetting(SettingKey::editor), text);
    QVERIFY(!settings.hostsList.empty());
    const HostsEntry &last = *settings.hostsList.back();
    QCOMPARE(last.name, text);
    QCOMPARE(last.updateUrl, url);
    QVERIFY(last.selected);
    // Both tables are whole: nothing was run from a value.
    QCOMPARE(sqlRows(file, QStringLiteral("select count(*) from General")), QStringList{"4"});
    QCOMPARE(sqlRows(file, QStringLiteral("select count(*) from Hosts where Name = 'default.hosts'")),
             QStringList{"1"});
}

void TestSecurity::updatesStayInLibrary_data()
{
    QTest::addColumn<QString>("name"); // "DIR" stands for the test's folder
    QTest::addColumn<bool>("http");    // a download, else the copy of a local file
    for (const bool http : {false, true}) {
        const char *how = http ? "download" : "copy";
        QTest::addRow("%s: parent folder", how) << "../outside.hosts" << http;
        QTest::addRow("%s: two parents deep", how) << "a/../../outside.hosts" << http;
        QTest::addRow("%s: absolute path", how) << "DIR/outside.hosts" << http;
        QTest::addRow("%s: sub-folder", how) << "sub/inner.hosts" << http;
        QTest::addRow("%s: backslashes", how) << "..\\outside.hosts" << http;
        QTest::addRow("%s: the parent itself", how) << ".." << http;
        QTest::addRow("%s: the library itself", how) << "." << http;
        QTest::addRow("%s: a link out of the library", how) << "link.hosts" << http;
    }
}

void TestSecurity::updatesStayInLibrary()
{
    QFETCH(QString, name);
    QFETCH(bool, http);
    name.replace(QLatin1String("DIR"), dir->path());
    const QByteArray outsideText = "kept\n";
    QVERIFY(writeWholeFile(path(QStringLiteral("outside.hosts")), outsideText));
    QVERIFY(QFile::link(path(QStringLiteral("outside.hosts")), QStringLiteral("hosts/link.hosts")));
    const QByteArray listText = "0.0.0.0 *.evil.test\n";
    const QString source = path(QStringLiteral("source.txt"));
    QVERIFY(writeWholeFile(source, listText));
    HttpTestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    HttpTestServer::Route route;
    route.body = listText;
    server.setRoute(QStringLiteral("/list"), route);

    makeWindow();
    UI_OptionsPanel &options = *window->optionsPanelWidget();
    int row = rowOf(name);
    if (row < 0) {
        // A name the folder does not hold comes only from the settings file: as if read from it.
        options.hostsList.push_back(std::make_unique<HostsEntry>());
        options.hostsList.back()->name = name;
        row = int(options.hostsList.size()) - 1;
    }
    options.hostsList[row]->updateUrl =
        http ? server.url(QStringLiteral("/list")) : QUrl::fromLocalFile(source);

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    options.syncHostsFile(row);
    const QString refused =
        QStringLiteral("Unable to save '%1'! Only plain files of the hosts folder are updated").arg(name);
    QVERIFY2(logMessages(*window->logPanelWidget()).contains(refused),
             qPrintable(logMessages(*window->logPanelWidget()).join(QLatin1Char('\n'))));
    QTest::qWait(200); // a download would have been asked for by now
    QCOMPARE(server.requestCount(QStringLiteral("/list")), 0);
    QCOMPARE(readWholeFile(path(QStringLiteral("outside.hosts"))), outsideText);
    QVERIFY(!QFile::exists(path(QStringLiteral("sub/inner.hosts"))));
    QVERIFY(!QFile::exists(QStringLiteral("hosts/sub/inner.hosts")));
    QCOMPARE(QDir(QStringLiteral("hosts")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             QStringList{"link.hosts"});
}

QTEST_MAIN(TestSecurity)
#include "tst_security.moc"
