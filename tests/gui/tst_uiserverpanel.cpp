#include "dns/UI_ServerPanel.h"

#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/WholeFile.h"

#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {

// Port 0: the server binds any free loopback port, never the machine's 53.
constexpr quint16 anyPort = 0;

const QString interfaceA = QStringLiteral("{A}");
const QString serversOfA = QStringLiteral("192.0.2.1");

const QByteArray hostsText = "# the test's hosts file\n"
                             "127.0.0.1 localhost\n"
                             "192.0.2.7 *.blocked.test\n"
                             "2001:db8::5\t*.six.test   # IPv6\n"
                             "127.0.0.9 exact.test *\n";
// The rules of hostsText, as "address | domain".
const QStringList hostsRules{QStringLiteral("192.0.2.7 | *.blocked.test"),
                             QStringLiteral("2001:db8::5 | *.six.test"),
                             QStringLiteral("127.0.0.9 | exact.test")};

// Written over hostsText by the step "rewriteHosts".
const QByteArray otherHostsText = "192.0.2.10 *.a.test\n"
                                  "192.0.2.11 *.b.test\n"
                                  "192.0.2.12 *.c.test\n"
                                  "192.0.2.13 *.d.test\n"
                                  "192.0.2.14 *.e.test\n"
                                  "192.0.2.15 *.f.test\n"
                                  "192.0.2.16 *.g.test\n";
const QString ruleA = QStringLiteral("192.0.2.10 | *.a.test");
const QString ruleB = QStringLiteral("192.0.2.11 | *.b.test");
const QString ruleC = QStringLiteral("192.0.2.12 | *.c.test");
const QString ruleD = QStringLiteral("192.0.2.13 | *.d.test");
const QString ruleE = QStringLiteral("192.0.2.14 | *.e.test");
const QString ruleF = QStringLiteral("192.0.2.15 | *.f.test");
const QString ruleG = QStringLiteral("192.0.2.16 | *.g.test");
const QString emptyRule = QStringLiteral(" | ");

// Log lines as RecordingLog keeps them: "<level> [(detailed) ]<text>".
const QString starting = QStringLiteral("1 Starting server...");
const QString creatingSockets = QStringLiteral("1 Creating sockets...");
const QString socketsCreated = QStringLiteral("2 Sockets created!");
const QString settingWildcard = QStringLiteral("1 Setting server to wildcard...");
const QString setWildcard = QStringLiteral("2 Server set to wildcard!");
const QString settingRegExp = QStringLiteral("1 Setting server to regular expression...");
const QString setRegExp = QStringLiteral("2 Server set to regular expression!");
const QString threeRules = QStringLiteral("0 3 rules in total. Server started!");
const QString settingDns = QStringLiteral("1 Setting primary DNS to 127.0.0.1...");
const QString dnsSet = QStringLiteral("2 Primary DNS set to 127.0.0.1");
const QString flushing = QStringLiteral("1 Flushing DNS cache...");
const QString flushed = QStringLiteral("2 DNS cache flushed!");
const QString rollingBack = QStringLiteral("1 Rolling back DNS...");
const QString rolledBack = QStringLiteral("2 DNS rolled back!");
const QString ruleAdded =
    QStringLiteral("2 New rule added successfully! Notice that the changes won't be saved.");
const QString rulesDeleted =
    QStringLiteral("2 Rule(s) deleted successfully! Notice that the changes won't be saved.");

const QStringList pointDns{settingDns, dnsSet, flushing, flushed};
const QStringList startWildcard = QStringList{starting, settingWildcard, setWildcard, threeRules} + pointDns;
const QStringList startRegExp =
    QStringList{starting, creatingSockets, socketsCreated, settingRegExp, setRegExp, threeRules} + pointDns;
const QStringList toRegExp{settingRegExp, setRegExp};
const QStringList toWildcard{settingWildcard, setWildcard};
const QStringList stop{rollingBack, rolledBack};

// Names in wire form, written out by hand.
const QByteArray wwwBlocked = " 03 777777 07 626c6f636b6564 04 74657374 00 ";   // www.blocked.test
const QByteArray mixedBlocked = " 03 577757 07 426c6f636b6564 04 54657374 00 "; // WwW.Blocked.Test
const QByteArray aSix = " 01 61 03 736978 04 74657374 00 ";                     // a.six.test
const QByteArray exact = " 05 6578616374 04 74657374 00 ";                      // exact.test
const QByteArray subExact = " 03 737562 05 6578616374 04 74657374 00 ";         // sub.exact.test
const QByteArray exactDash = " 0a 65786163742d74657374 00 ";                    // exact-test
const QByteArray nothing = " 07 6e6f7468696e67 07 6578616d706c65 00 ";          // nothing.example
const QByteArray controlByte = " 03 610a62 04 74657374 00 ";                    // a<LF>b.test
const QByteArray root = " 00 ";
const QByteArray localhost = " 09 6c6f63616c686f7374 00 "; // localhost
const QByteArray typeA = " 0001 ", typeAaaa = " 001c ", typeMx = " 000f ", typeAny = " 00ff ",
                 classIn = " 0001 ";
const QByteArray ttl3600 = " 00000e10 ";

QStringList ruleRows(const HostRules &rules)
{
    QStringList rows;
    for (int i = 0; i < rules.size(); ++i)
        rows << rules.at(i).address.toString() + QStringLiteral(" | ") + rules.at(i).pattern.pattern();
    return rows;
}

// The rows as the table shows them.
QStringList tableRows(const QTableView &table)
{
    const QAbstractItemModel &model = *table.model();
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows << model.index(row, 0).data().toString() + QStringLiteral(" | ") +
                    model.index(row, 1).data().toString();
    return rows;
}

// Flags of both cells of each row, as numbers.
QList<int> rowFlags(const QTableView &table)
{
    const QAbstractItemModel &model = *table.model();
    QList<int> flags;
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < 2; ++column)
            flags << int(model.flags(model.index(row, column)));
    }
    return flags;
}

QList<int> syntaxes(const HostRules &rules)
{
    QList<int> result;
    for (int i = 0; i < rules.size(); ++i)
        result << int(rules.at(i).pattern.patternSyntax());
    return result;
}

// QObject::receivers is protected; named through a derived class it can be asked of any object.
struct ReceiverCount : QObject {
    static int of(const QObject &sender, const char *signal)
    {
        return (sender.*(&ReceiverCount::receivers))(signal);
    }
};

// A loopback client of the panel's server.
class Client {
public:
    bool bind() { return socket.bind(QHostAddress::LocalHost, 0); }
    QString error() const { return socket.errorString(); }
    void send(const QByteArray &datagram, quint16 port)
    {
        socket.writeDatagram(datagram, QHostAddress::LocalHost, port);
    }
    // The replies that arrive while the event loop runs for `ms`.
    QList<QNetworkDatagram> repliesWithin(int ms)
    {
        QTest::qWait(ms);
        QList<QNetworkDatagram> replies;
        while (socket.hasPendingDatagrams())
            replies << socket.receiveDatagram();
        return replies;
    }
    // The first reply, waiting up to five seconds for it; empty when none came.
    QByteArray firstReply()
    {
        if (!QTest::qWaitFor([this] { return socket.hasPendingDatagrams(); }, 5000))
            return QByteArray();
        return socket.receiveDatagram().data();
    }

private:
    QUdpSocket socket;
};

QByteArray spacedHex(const QByteArray &hex)
{
    return QByteArray::fromHex(hex).toHex(' ');
}

} // namespace

class TestServerPanel : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void constructedOff();
    void stateMachine_data();
    void stateMachine();
    void oneReadyReadConnection_data();
    void oneReadyReadConnection();
    void replies_data();
    void replies();
    void absentHostsFile_data();
    void absentHostsFile();
    void failedBind_data();
    void failedBind();
    void reloadKeepsSyntax_data();
    void reloadKeepsSyntax();

    void tableColumnsAndLoadedRows();
    void tableFollowsServer_data();
    void tableFollowsServer();
    void insertAndEdit_data();
    void insertAndEdit();
    void userRowEditableAfterLoadedRowDeleted();
    void longPatternShownCut();
    void deleteSelectedRows_data();
    void deleteSelectedRows();
    void editedDomainTakesModeSyntax_data();
    void editedDomainTakesModeSyntax();
    void newRowMatchesOnlyTheRootName();

private:
    void makePanel(quint16 port);
    // Runs one step of a scenario: a slot of the panel by name ("Wildcard", "insNewRule", ...),
    // "setStatus <text>", or a table or file action (see the definition).
    void perform(const QString &step);
    void performAll(const QStringList &steps);
    void showPanel();
    quint16 serverPort() const { return panel->serverSocket()->localPort(); }
    QString rollBackPath() const { return dir->filePath(QStringLiteral("DNS")); }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FakePlatform> platform;
    std::unique_ptr<RecordingLog> log;
    std::unique_ptr<UI_ServerPanel> panel;
};

void TestServerPanel::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    platform = std::make_unique<FakePlatform>();
    platform->hostsFile = dir->filePath(QStringLiteral("hosts"));
    QVERIFY(writeWholeFile(platform->hostsFile, hostsText));
    platform->store.add(interfaceA, serversOfA, NameServerStore::absent);
    platform->store.add(QStringLiteral("{B}"), NameServerStore::absent, NameServerStore::absent);
    log = std::make_unique<RecordingLog>();
    makePanel(anyPort);
}

void TestServerPanel::cleanup()
{
    panel.reset();
    log.reset();
    platform.reset();
    dir.reset();
}

void TestServerPanel::makePanel(quint16 port)
{
    panel.reset();
    panel = std::make_unique<UI_ServerPanel>(*log, *platform, nullptr, port, rollBackPath());
}

void TestServerPanel::perform(const QString &step)
{
    const QStringList words = step.split(QLatin1Char(' '));
    const QString &verb = words.first();
    QTableView &table = *panel->ruleTable();
    if (verb == QLatin1String("setStatus")) {
        panel->setStatus(step.section(QLatin1Char(' '), 1));
    } else if (verb == QLatin1String("rewriteHosts")) {
        QVERIFY(writeWholeFile(platform->hostsFile, otherHostsText));
    } else if (verb == QLatin1String("selectRow")) {
        table.selectionModel()->select(table.model()->index(words.at(1).toInt(), 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    } else if (verb == QLatin1String("selectCell")) {
        table.selectionModel()->select(table.model()->index(words.at(1).toInt(), words.at(2).toInt()),
                                       QItemSelectionModel::Select);
    } else if (verb == QLatin1String("clickRowHeader") || verb == QLatin1String("ctrlClickRowHeader")) {
        // A click on a row header, as the user selects whole rows.
        showPanel();
        QHeaderView *header = table.verticalHeader();
        const int row = words.at(1).toInt();
        const QPoint at(header->width() / 2,
                        header->sectionViewportPosition(row) + header->sectionSize(row) / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton,
                          verb.startsWith(QLatin1String("ctrl")) ? Qt::ControlModifier : Qt::NoModifier, at);
    } else if (verb == QLatin1String("type")) {
        // "type ROW COLUMN TEXT": a double click on the cell and the text typed into its editor, as
        // the user edits; a cell that cannot be edited opens none, and the step changes nothing.
        showPanel();
        const QModelIndex cell = table.model()->index(words.at(1).toInt(), words.at(2).toInt());
        QVERIFY(cell.isValid());
        const QPoint at = table.visualRect(cell).center();
        QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(table.viewport(), Qt::LeftButton, Qt::NoModifier, at);
        auto *editor = qobject_cast<QLineEdit *>(table.indexWidget(cell));
        if (!editor)
            return;
        editor->setText(step.section(QLatin1Char(' '), 3));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!table.indexWidget(cell)); // the delegate commits from the event loop
    } else {
        QVERIFY2(QMetaObject::invokeMethod(panel.get(), verb.toLatin1().constData()), qPrintable(step));
    }
}

void TestServerPanel::showPanel()
{
    panel->resize(600, 600);
    panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
}

void TestServerPanel::performAll(const QStringList &steps)
{
    for (const QString &step : steps) {
        perform(step);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestServerPanel::constructedOff()
{
    QCOMPARE(panel->serverState(), int(ServerState::Off));
    QVERIFY(!panel->isEnabled());
    QCOMPARE(panel->toolTip(), QStringLiteral("Server is off"));
    QCOMPARE(panel->hostRules().size(), 0);
    QCOMPARE(panel->ruleTable()->model()->rowCount(), 0);
    QCOMPARE(panel->serverSocket()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(log->lines, QStringList());
    QCOMPARE(platform->store.writes, QStringList());
}

void TestServerPanel::stateMachine_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("state");

    const int off = ServerState::Off, wildcard = ServerState::Wildcard,
              regExp = ServerState::RegularExpression;

    // From off.
    QTest::newRow("Wildcard() starts") << QStringList{"Wildcard"} << startWildcard << wildcard;
    QTest::newRow("Regular_Expression() starts")
        << QStringList{"Regular_Expression"} << startRegExp << regExp;
    QTest::newRow("Off() does nothing") << QStringList{"Off"} << QStringList() << off;
    QTest::newRow("setStatus Off does nothing") << QStringList{"setStatus Off"} << QStringList() << off;
    QTest::newRow("setStatus Regular Expression starts")
        << QStringList{"setStatus Regular Expression"} << startRegExp << regExp;
    QTest::newRow("setStatus Wildcard starts")
        << QStringList{"setStatus Wildcard"} << startWildcard << wildcard;
    QTest::newRow("setStatus empty starts wildcard")
        << QStringList{"setStatus "} << startWildcard << wildcard;
    QTest::newRow("setStatus other text starts wildcard")
        << QStringList{"setStatus Detailed"} << startWildcard << wildcard;
    QTest::newRow("setStatus names are case-sensitive: off")
        << QStringList{"setStatus off"} << startWildcard << wildcard;
    QTest::newRow("setStatus names are case-sensitive: regular expression")
        << QStringList{"setStatus regular expression"} << startWildcard << wildcard;

    // The mode already in force.
    QTest::newRow("Wildcard() twice") << QStringList{"Wildcard", "Wildcard"} << startWildcard << wildcard;
    QTest::newRow("Regular_Expression() twice")
        << QStringList{"Regular_Expression", "Regular_Expression"} << startRegExp << regExp;
    QTest::newRow("setStatus other text while wildcard")
        << QStringList{"Wildcard", "setStatus Brief"} << startWildcard << wildcard;

    // Switching while serving: no reload, no DNS change.
    QTest::newRow("wildcard to regular expression")
        << QStringList{"Wildcard", "Regular_Expression"} << startWildcard + toRegExp << regExp;
    QTest::newRow("regular expression to wildcard")
        << QStringList{"Regular_Expression", "Wildcard"} << startRegExp + toWildcard << wildcard;
    QTest::newRow("setStatus switches to regular expression")
        << QStringList{"setStatus ", "setStatus Regular Expression"} << startWildcard + toRegExp << regExp;
    QTest::newRow("setStatus other text switches to wildcard")
        << QStringList{"Regular_Expression", "setStatus Brief"} << startRegExp + toWildcard << wildcard;
    QTest::newRow("back and forth") << QStringList{"Wildcard", "Regular_Expression", "Wildcard",
                                                   "Regular_Expression"}
                                    << startWildcard + toRegExp + toWildcard + toRegExp << regExp;

    // Stopping.
    QTest::newRow("Off() stops wildcard") << QStringList{"Wildcard", "Off"} << startWildcard + stop << off;
    QTest::newRow("Off() stops regular expression")
        << QStringList{"Regular_Expression", "Off"} << startRegExp + stop << off;
    QTest::newRow("setStatus Off stops")
        << QStringList{"Wildcard", "setStatus Off"} << startWildcard + stop << off;
    QTest::newRow("Off() twice") << QStringList{"Wildcard", "Off", "Off"} << startWildcard + stop << off;

    // Starting again.
    QTest::newRow("start, stop, start")
        << QStringList{"Wildcard", "Off", "Wildcard"} << startWildcard + stop + startWildcard << wildcard;
    QTest::newRow("wildcard, stop, regular expression")
        << QStringList{"Wildcard", "Off", "Regular_Expression"} << startWildcard + stop + startRegExp
        << regExp;
    QTest::newRow("regular expression, stop, wildcard")
        << QStringList{"Regular_Expression", "Off", "Wildcard"} << startRegExp + stop + startWildcard
        << wildcard;
}

void TestServerPanel::stateMachine()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, lines);
    QFETCH(int, state);

    performAll(steps);
    QCOMPARE(log->lines, lines);
    QCOMPARE(panel->serverState(), state);
    if (state == ServerState::Off) {
        QVERIFY(!panel->isEnabled());
        QCOMPARE(panel->toolTip(), QStringLiteral("Server is off"));
        QCOMPARE(ruleRows(panel->hostRules()), QStringList());
        QCOMPARE(tableRows(*panel->ruleTable()), QStringList());
        QCOMPARE(panel->serverSocket()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(platform->store.nameServer(interfaceA), serversOfA);
        QVERIFY(!QFile::exists(rollBackPath()));
        return;
    }
    QVERIFY(panel->isEnabled());
    QCOMPARE(panel->toolTip(), QString());
    // The same rules in the same order whatever the switches; only their syntax follows the mode.
    QCOMPARE(ruleRows(panel->hostRules()), hostsRules);
    QCOMPARE(tableRows(*panel->ruleTable()), hostsRules);
    const int syntax = state == ServerState::RegularExpression ? QRegExp::RegExp : QRegExp::Wildcard;
    QCOMPARE(syntaxes(panel->hostRules()), QList<int>(hostsRules.size(), syntax));
    QCOMPARE(panel->serverSocket()->state(), QAbstractSocket::BoundState);
    QCOMPARE(panel->serverSocket()->localAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(platform->store.nameServer(interfaceA), QStringLiteral("127.0.0.1,") + serversOfA);
    QCOMPARE(readWholeFile(rollBackPath()),
             (interfaceA + QLatin1Char(' ') + serversOfA + QLatin1Char('\n')).toUtf8());
}

void TestServerPanel::oneReadyReadConnection_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("started once") << QStringList{"Wildcard"};
    QTest::newRow("started, stopped, started") << QStringList{"Wildcard", "Off", "Wildcard"};
    QTest::newRow("started three times")
        << QStringList{"Wildcard", "Off", "Regular_Expression", "Off", "Wildcard"};
    QTest::newRow("modes switched while serving")
        << QStringList{"Wildcard", "Regular_Expression", "Wildcard"};
}

void TestServerPanel::oneReadyReadConnection()
{
    QFETCH(QStringList, steps);
    performAll(steps);
    QCOMPARE(ReceiverCount::of(*panel->serverSocket(), SIGNAL(readyRead())), 1);

    // Two queries waiting at once: each is answered and logged exactly once.
    log->lines.clear();
    Client client;
    QVERIFY2(client.bind(), qPrintable(client.error()));
    const QByteArray first = QByteArray::fromHex("0101 0100 0001 0000 0000 0000" + exact + typeA + classIn);
    const QByteArray second =
        QByteArray::fromHex("0202 0100 0001 0000 0000 0000" + aSix + typeAaaa + classIn);
    client.send(first, serverPort());
    client.send(second, serverPort());
    QTRY_COMPARE(log->lines.size(), 4);
    const QList<QNetworkDatagram> replies = client.repliesWithin(200);
    QCOMPARE(replies.size(), 2);
    QCOMPARE(replies.at(0).data().left(2), QByteArray::fromHex("0101"));
    QCOMPARE(replies.at(1).data().left(2), QByteArray::fromHex("0202"));
    QCOMPARE(log->lines, (QStringList{QStringLiteral("4 Question for exact.test"),
                                      QStringLiteral("5 Answered with 127.0.0.9"),
                                      QStringLiteral("4 Question for a.six.test"),
                                      QStringLiteral("5 Answered with 2001:db8::5")}));
}

void TestServerPanel::replies_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply"); // empty: no reply at all
    QTest::addColumn<QStringList>("lines");

    const QString wildcard = QStringLiteral("Wildcard");
    const QString regExp = QStringLiteral("Regular Expression");
    const QString questionWww = QStringLiteral("4 Question for www.blocked.test");
    const QString answered192 = QStringLiteral("5 Answered with 192.0.2.7");
    const QString answeredSix = QStringLiteral("5 Answered with 2001:db8::5");
    const QByteArray sixRdata = " 0010 20010db8000000000000000000000005 ";

    // A rule answers the type of its own address, with the question echoed as asked.
    QTest::newRow("A, IPv4 rule, name in mixed case kept")
        << wildcard << "beef 0100 0001 0000 0000 0000" + mixedBlocked + typeA + classIn
        << "beef 8100 0001 0001 0000 0000" + mixedBlocked + typeA + classIn + mixedBlocked + typeA + classIn +
               ttl3600 + "0004 c0000207"
        << QStringList{QStringLiteral("4 Question for WwW.Blocked.Test"), answered192};
    QTest::newRow("AAAA, IPv6 rule") << wildcard
                                     << "0001 0100 0001 0000 0000 0000" + aSix + typeAaaa + classIn
                                     << "0001 8100 0001 0001 0000 0000" + aSix + typeAaaa + classIn + aSix +
                                            typeAaaa + classIn + ttl3600 + sixRdata
                                     << QStringList{QStringLiteral("4 Question for a.six.test"), answeredSix};
    QTest::newRow("ANY, IPv6 rule: its record")
        << wildcard << "0002 0100 0001 0000 0000 0000" + aSix + typeAny + classIn
        << "0002 8100 0001 0001 0000 0000" + aSix + typeAny + classIn + aSix + typeAaaa + classIn + ttl3600 +
               sixRdata
        << QStringList{QStringLiteral("4 Question for a.six.test"), answeredSix};
    QTest::newRow("A, exact name, RD clear")
        << wildcard << "0003 0000 0001 0000 0000 0000" + exact + typeA + classIn
        << "0003 8000 0001 0001 0000 0000" + exact + typeA + classIn + exact + typeA + classIn + ttl3600 +
               "0004 7f000009"
        << QStringList{QStringLiteral("4 Question for exact.test"),
                       QStringLiteral("5 Answered with 127.0.0.9")};
    QTest::newRow("OPCODE and RD are the query's")
        << wildcard << "0004 2900 0001 0000 0000 0000" + exact + typeA + classIn
        << "0004 a900 0001 0001 0000 0000" + exact + typeA + classIn + exact + typeA + classIn + ttl3600 +
               "0004 7f000009"
        << QStringList{QStringLiteral("4 Question for exact.test"),
                       QStringLiteral("5 Answered with 127.0.0.9")};
    QTest::newRow("dig's default: AD bit and EDNS OPT record ignored")
        << wildcard
        << "0005 0120 0001 0000 0000 0001" + wwwBlocked + typeA + classIn + "00 0029 04d0 00000000 0000"
        << "0005 8100 0001 0001 0000 0000" + wwwBlocked + typeA + classIn + wwwBlocked + typeA + classIn +
               ttl3600 + "0004 c0000207"
        << QStringList{questionWww, answered192};

    // Another type than the rule's: "no data of that type", at once.
    QTest::newRow("AAAA, IPv4 rule: NOERROR, no answer")
        << wildcard << "0006 0100 0001 0000 0000 0000" + wwwBlocked + typeAaaa + classIn
        << "0006 8100 0001 0000 0000 0000" + wwwBlocked + typeAaaa + classIn
        << QStringList{questionWww, answered192};
    QTest::newRow("A, IPv6 rule: NOERROR, no answer")
        << wildcard << "0007 0100 0001 0000 0000 0000" + aSix + typeA + classIn
        << "0007 8100 0001 0000 0000 0000" + aSix + typeA + classIn
        << QStringList{QStringLiteral("4 Question for a.six.test"), answeredSix};
    QTest::newRow("MX, IPv4 rule: NOERROR, no answer")
        << wildcard << "0008 0100 0001 0000 0000 0000" + wwwBlocked + typeMx + classIn
        << "0008 8100 0001 0000 0000 0000" + wwwBlocked + typeMx + classIn
        << QStringList{questionWww, answered192};

    // No rule: a bare SERVFAIL header, logged for the Detailed mode only.
    QTest::newRow("no rule") << wildcard << "0009 0100 0001 0000 0000 0000" + nothing + typeA + classIn
                             << QByteArray("0009 8102 0000 0000 0000 0000")
                             << QStringList{QStringLiteral("4 (detailed) Question for nothing.example")};
    QTest::newRow("no rule, RD clear")
        << wildcard << "000a 0000 0001 0000 0000 0000" + nothing + typeA + classIn
        << QByteArray("000a 8002 0000 0000 0000 0000")
        << QStringList{QStringLiteral("4 (detailed) Question for nothing.example")};
    QTest::newRow("below an exact name")
        << wildcard << "000b 0100 0001 0000 0000 0000" + subExact + typeA + classIn
        << QByteArray("000b 8102 0000 0000 0000 0000")
        << QStringList{QStringLiteral("4 (detailed) Question for sub.exact.test")};
    QTest::newRow("control byte of a name escaped in the log")
        << wildcard << "000c 0100 0001 0000 0000 0000" + controlByte + typeA + classIn
        << QByteArray("000c 8102 0000 0000 0000 0000")
        << QStringList{QStringLiteral("4 (detailed) Question for a\\x0ab.test")};

    // Malformed queries.
    QTest::newRow("QDCOUNT 2: FORMERR")
        << wildcard
        << "000d 0100 0002 0000 0000 0000" + wwwBlocked + typeA + classIn + exact + typeA + classIn
        << QByteArray("000d 8101 0000 0000 0000 0000")
        << QStringList{QStringLiteral("4 (detailed) ") + questionWww.mid(2)};
    QTest::newRow("label past the end: FORMERR")
        << wildcard << QByteArray("000e 0100 0001 0000 0000 0000 03 7777")
        << QByteArray("000e 8101 0000 0000 0000 0000")
        << QStringList{QStringLiteral("4 (detailed) Question for ")};
    QTest::newRow("QTYPE missing: FORMERR")
        << wildcard << "000f 0100 0001 0000 0000 0000" + wwwBlocked
        << QByteArray("000f 8101 0000 0000 0000 0000")
        << QStringList{QStringLiteral("4 (detailed) Question for www.blocked.test")};
    QTest::newRow("header only: FORMERR") << wildcard << QByteArray("0010 0100 0000 0000 0000 0000")
                                          << QByteArray("0010 8101 0000 0000 0000 0000")
                                          << QStringList{QStringLiteral("4 (detailed) Question for ")};
    QTest::newRow("5 bytes: dropped")
        << wildcard << QByteArray("0011 0100 00") << QByteArray()
        << QStringList{QStringLiteral("3 (detailed) Dropped a datagram of 5 bytes from "
                                      "127.0.0.1: too short for a DNS query")};

    // Regular-expression mode: the same rules, read as regular expressions.
    QTest::newRow("regular expression: a wildcard pattern never matches")
        << regExp << "0012 0100 0001 0000 0000 0000" + wwwBlocked + typeA + classIn
        << QByteArray("0012 8102 0000 0000 0000 0000")
        << QStringList{QStringLiteral("4 (detailed) ") + questionWww.mid(2)};
    QTest::newRow("regular expression: a dot is any character")
        << regExp << "0013 0100 0001 0000 0000 0000" + exactDash + typeA + classIn
        << "0013 8100 0001 0001 0000 0000" + exactDash + typeA + classIn + exactDash + typeA + classIn +
               ttl3600 + "0004 7f000009"
        << QStringList{QStringLiteral("4 Question for exact-test"),
                       QStringLiteral("5 Answered with 127.0.0.9")};
}

void TestServerPanel::replies()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, lines);

    panel->setStatus(mode);
    log->lines.clear();
    Client client;
    QVERIFY2(client.bind(), qPrintable(client.error()));
    client.send(QByteArray::fromHex(query), serverPort());
    QTRY_COMPARE(log->lines, lines);
    const QList<QNetworkDatagram> replies = client.repliesWithin(100);
    if (reply.isEmpty()) {
        QCOMPARE(replies.size(), 0);
        return;
    }
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.first().data().toHex(' '), spacedHex(reply));
    QCOMPARE(replies.first().senderAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(replies.first().senderPort(), int(serverPort()));
}

void TestServerPanel::absentHostsFile_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("A for a name blocked before")
        << "0021 0100 0001 0000 0000 0000" + wwwBlocked + typeA + classIn
        << QByteArray("0021 8102 0000 0000 0000 0000");
    QTest::newRow("AAAA for localhost") << "0022 0100 0001 0000 0000 0000" + localhost + typeAaaa + classIn
                                        << QByteArray("0022 8102 0000 0000 0000 0000");
    QTest::newRow("the root name") << "0023 0000 0001 0000 0000 0000" + root + typeAny + classIn
                                   << QByteArray("0023 8002 0000 0000 0000 0000");
}

void TestServerPanel::absentHostsFile()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);

    QVERIFY(QFile::remove(platform->hostsFile));
    panel->Wildcard();
    QCOMPARE(log->lines, QStringList({starting, settingWildcard, setWildcard,
                                      QStringLiteral("0 0 rules in total. Server started!")}) +
                             pointDns);
    QVERIFY(panel->isEnabled());
    QCOMPARE(panel->ruleTable()->model()->rowCount(), 0);

    Client client;
    QVERIFY2(client.bind(), qPrintable(client.error()));
    client.send(QByteArray::fromHex(query), serverPort());
    QCOMPARE(client.firstReply().toHex(' '), spacedHex(reply));
}

void TestServerPanel::failedBind_data()
{
    QTest::addColumn<int>("takenMode"); // how the other socket holds the port
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("before"); // lines before the failure line
    QTest::addColumn<QStringList>("after");  // lines after it

    const int exclusive = QAbstractSocket::DontShareAddress, shared = QAbstractSocket::ShareAddress;
    const QStringList wildcardRest = QStringList{settingWildcard, setWildcard, threeRules} + pointDns;
    QTest::newRow("wildcard") << exclusive << QStringLiteral("Wildcard") << QStringList{starting}
                              << wildcardRest;
    // The failure takes the place of "Sockets created!": the start does not report success and failure at
    // once.
    QTest::newRow("regular expression")
        << exclusive << QStringLiteral("Regular Expression") << QStringList{starting, creatingSockets}
        << QStringList{settingRegExp, setRegExp, threeRules} + pointDns;
    // The server shares its port with no one, who would take some of its queries.
    QTest::newRow("port held for sharing")
        << shared << QStringLiteral("Wildcard") << QStringList{starting} << wildcardRest;
}

void TestServerPanel::failedBind()
{
    QFETCH(int, takenMode);
    QFETCH(QString, mode);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);

    QUdpSocket taken;
    QVERIFY2(taken.bind(QHostAddress::LocalHost, 0, QAbstractSocket::BindMode(takenMode)),
             qPrintable(taken.errorString()));
    const quint16 port = taken.localPort();
    makePanel(port);
    panel->setStatus(mode);
    const QString failure =
        QStringLiteral("3 Can't listen on 127.0.0.1:%1: The bound address is already in use").arg(port);
    QCOMPARE(log->lines, before + QStringList{failure} + after);
    // The server runs on all the same, and binds at its next start once the port is free.
    QVERIFY(panel->isEnabled());
    QCOMPARE(panel->serverState(), mode == QLatin1String("Wildcard") ? int(ServerState::Wildcard)
                                                                     : int(ServerState::RegularExpression));
    panel->Off();
    taken.close();
    log->lines.clear();
    panel->setStatus(mode);
    QVERIFY2(!log->lines.join(QLatin1Char('\n')).contains(QLatin1String("Can't listen")),
             qPrintable(log->lines.join(QLatin1Char('\n'))));
    Client client;
    QVERIFY2(client.bind(), qPrintable(client.error()));
    client.send(QByteArray::fromHex("0031 0100 0001 0000 0000 0000" + exact + typeA + classIn), port);
    QCOMPARE(client.firstReply().toHex(' '),
             spacedHex("0031 8100 0001 0001 0000 0000" + exact + typeA + classIn + exact + typeA + classIn +
                       ttl3600 + "0004 7f000009"));
}

void TestServerPanel::reloadKeepsSyntax_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("syntax");
    QTest::newRow("wildcard") << QStringList{"Wildcard"} << int(QRegExp::Wildcard);
    QTest::newRow("regular expression") << QStringList{"Regular_Expression"} << int(QRegExp::RegExp);
    QTest::newRow("switched to regular expression")
        << QStringList{"Wildcard", "Regular_Expression"} << int(QRegExp::RegExp);
    QTest::newRow("switched back to wildcard")
        << QStringList{"Regular_Expression", "Wildcard"} << int(QRegExp::Wildcard);
}

void TestServerPanel::reloadKeepsSyntax()
{
    QFETCH(QStringList, steps);
    QFETCH(int, syntax);

    performAll(steps);
    const int state = panel->serverState();
    const QStringList lines = log->lines;
    performAll({"insNewRule", "rewriteHosts", "loadHosts"});
    QCOMPARE(log->lines, lines + QStringList{ruleAdded}); // a reload logs nothing
    const QStringList other{ruleA, ruleB, ruleC, ruleD, ruleE, ruleF, ruleG};
    QCOMPARE(ruleRows(panel->hostRules()), other);
    QCOMPARE(tableRows(*panel->ruleTable()), other);
    QCOMPARE(syntaxes(panel->hostRules()), QList<int>(other.size(), syntax));
    QCOMPARE(panel->serverState(), state);
    quint16 rdlength = 0;
    QByteArray rdata;
    QCOMPARE(panel->hostRules().findAnswer("X.C.TEST", rdlength, rdata), syntax == QRegExp::Wildcard);
}

void TestServerPanel::tableColumnsAndLoadedRows()
{
    const QTableView &table = *panel->ruleTable();
    const QAbstractItemModel &model = *table.model();
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Address"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Domain"));
    QVERIFY(table.horizontalHeader()->stretchLastSection());
    QVERIFY(table.alternatingRowColors());
    QCOMPARE(table.parentWidget(), panel.get());

    panel->Wildcard();
    QCOMPARE(tableRows(table), hostsRules);
    // Selectable, enabled, drag, drop, user-checkable; not editable.
    QCOMPARE(rowFlags(table), QList<int>(2 * hostsRules.size(), 61));
}

void TestServerPanel::tableFollowsServer_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("rows");
    const QStringList other{ruleA, ruleB, ruleC, ruleD, ruleE, ruleF, ruleG};
    QTest::newRow("start") << QStringList{"Wildcard"} << hostsRules;
    QTest::newRow("switch of mode") << QStringList{"Wildcard", "Regular_Expression"} << hostsRules;
    QTest::newRow("stop") << QStringList{"Wildcard", "Off"} << QStringList();
    QTest::newRow("start after the file changed")
        << QStringList{"Wildcard", "Off", "rewriteHosts", "Wildcard"} << other;
    QTest::newRow("reload") << QStringList{"Wildcard", "rewriteHosts", "loadHosts"} << other;
    QTest::newRow("reload drops user rows")
        << QStringList{"Wildcard", "insNewRule", "type 3 1 *.new.test", "loadHosts"} << hostsRules;
    QTest::newRow("restart drops user rows")
        << QStringList{"Regular_Expression", "insNewRule", "Off", "Regular_Expression"} << hostsRules;
}

void TestServerPanel::tableFollowsServer()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, rows);
    performAll(steps);
    QCOMPARE(tableRows(*panel->ruleTable()), rows);
    QCOMPARE(ruleRows(panel->hostRules()), rows);
    QCOMPARE(rowFlags(*panel->ruleTable()), QList<int>(2 * rows.size(), 61));
}

void TestServerPanel::insertAndEdit_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QList<int>>("flags"); // of the user rows' items
    QTest::addColumn<QStringList>("lines");

    const QList<int> oneUserRow(2, 63), twoUserRows(4, 63);
    QTest::newRow("insert") << QStringList{"insNewRule"} << hostsRules + QStringList{emptyRule} << oneUserRow
                            << QStringList{ruleAdded};
    QTest::newRow("insert twice") << QStringList{"insNewRule", "insNewRule"}
                                  << hostsRules + QStringList{emptyRule, emptyRule} << twoUserRows
                                  << QStringList{ruleAdded, ruleAdded};
    QTest::newRow("edit address and domain")
        << QStringList{"insNewRule", "type 3 0 192.0.2.99", "type 3 1 *.new.test"}
        << hostsRules + QStringList{QStringLiteral("192.0.2.99 | *.new.test")} << oneUserRow
        << QStringList{ruleAdded};
    QTest::newRow("edit IPv6 address") << QStringList{"insNewRule", "type 3 0 2001:db8::99"}
                                       << hostsRules + QStringList{QStringLiteral("2001:db8::99 | ")}
                                       << oneUserRow << QStringList{ruleAdded};
    QTest::newRow("edit the second of two new rows")
        << QStringList{"insNewRule", "insNewRule", "type 4 1 second.test"}
        << hostsRules + QStringList{emptyRule, QStringLiteral(" | second.test")} << twoUserRows
        << QStringList{ruleAdded, ruleAdded};
    QTest::newRow("edit again") << QStringList{"insNewRule", "type 3 1 first.test", "type 3 1 second.test"}
                                << hostsRules + QStringList{QStringLiteral(" | second.test")} << oneUserRow
                                << QStringList{ruleAdded};
    QTest::newRow("a loaded row is not edited in place")
        << QStringList{"type 0 1 other.test", "type 2 0 192.0.2.99"} << hostsRules << QList<int>()
        << QStringList();
    QTest::newRow("insert in regular expression mode")
        << QStringList{"Off", "Regular_Expression", "insNewRule", "type 3 1 (a|b)\\.new\\.test"}
        << hostsRules + QStringList{QStringLiteral(" | (a|b)\\.new\\.test")} << oneUserRow
        << QStringList{ruleAdded};
}

void TestServerPanel::insertAndEdit()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, rows);
    QFETCH(QList<int>, flags);
    QFETCH(QStringList, lines);

    panel->Wildcard();
    log->lines.clear();
    performAll(steps);
    QCOMPARE(tableRows(*panel->ruleTable()), rows);
    QCOMPARE(ruleRows(panel->hostRules()), rows);
    QCOMPARE(rowFlags(*panel->ruleTable()), QList<int>(2 * hostsRules.size(), 61) + flags);
    QCOMPARE(log->lines.filter(QStringLiteral("Notice")), lines);
}

void TestServerPanel::userRowEditableAfterLoadedRowDeleted()
{
    panel->Wildcard();
    const int userRow = int(hostsRules.size()) - 1;
    performAll(
        {"insNewRule", "selectRow 0", "delCurrentRow", QStringLiteral("type %1 1 *.new.test").arg(userRow)});
    QCOMPARE(tableRows(*panel->ruleTable()),
             hostsRules.mid(1) + QStringList{QStringLiteral(" | *.new.test")});
    QCOMPARE(rowFlags(*panel->ruleTable()), QList<int>(2 * userRow, 61) + QList<int>(2, 63));
}

void TestServerPanel::longPatternShownCut()
{
    const QString pattern = QStringLiteral("*.") + QString(10000, QLatin1Char('a'));
    QVERIFY(writeWholeFile(platform->hostsFile, "192.0.2.7 " + pattern.toLatin1() + "\n"));
    panel->Wildcard();
    const QModelIndex cell = panel->ruleTable()->model()->index(0, 1);
    QCOMPARE(cell.data(Qt::DisplayRole).toString(), pattern.left(4096) + QChar(0x2026));
    QCOMPARE(cell.data(Qt::EditRole).toString(), pattern);
    QCOMPARE(panel->hostRules().patternAt(0), pattern);
}

void TestServerPanel::deleteSelectedRows_data()
{
    QTest::addColumn<QStringList>("selection");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("lines");

    const QStringList deleted{rulesDeleted};
    const QStringList all{ruleA, ruleB, ruleC, ruleD, ruleE, ruleF, ruleG};
    QTest::newRow("rows 2 and 5") << QStringList{"selectRow 2", "selectRow 5"}
                                  << QStringList{ruleA, ruleB, ruleD, ruleE, ruleG} << deleted;
    QTest::newRow("rows 5 and 2") << QStringList{"selectRow 5", "selectRow 2"}
                                  << QStringList{ruleA, ruleB, ruleD, ruleE, ruleG} << deleted;
    QTest::newRow("rows 2 and 5 clicked in the row header")
        << QStringList{"clickRowHeader 2", "ctrlClickRowHeader 5"}
        << QStringList{ruleA, ruleB, ruleD, ruleE, ruleG} << deleted;
    QTest::newRow("first and last rows") << QStringList{"selectRow 0", "selectRow 6"}
                                         << QStringList{ruleB, ruleC, ruleD, ruleE, ruleF} << deleted;
    QTest::newRow("every row") << QStringList{"selectRow 3", "selectRow 0", "selectRow 6", "selectRow 1",
                                              "selectRow 5", "selectRow 2", "selectRow 4"}
                               << QStringList() << deleted;
    QTest::newRow("a single cell deletes nothing") << QStringList{"selectCell 2 1"} << all << QStringList();
    QTest::newRow("both cells of a row, one by one")
        << QStringList{"selectCell 4 0", "selectCell 4 1"}
        << QStringList{ruleA, ruleB, ruleC, ruleD, ruleF, ruleG} << deleted;
    QTest::newRow("a whole row and a single cell")
        << QStringList{"selectRow 1", "selectCell 5 0"}
        << QStringList{ruleA, ruleC, ruleD, ruleE, ruleF, ruleG} << deleted;
    QTest::newRow("nothing selected") << QStringList() << all << QStringList();
    QTest::newRow("a user row and a loaded row")
        << QStringList{"insNewRule", "type 7 1 *.new.test", "insNewRule", "selectRow 7", "selectRow 0"}
        << QStringList{ruleB, ruleC, ruleD, ruleE, ruleF, ruleG, emptyRule}
        << QStringList{ruleAdded, ruleAdded} + deleted;
}

void TestServerPanel::deleteSelectedRows()
{
    QFETCH(QStringList, selection);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, lines);

    performAll({"rewriteHosts", "Wildcard"});
    log->lines.clear();
    performAll(selection + QStringList{"delCurrentRow"});
    QCOMPARE(tableRows(*panel->ruleTable()), rows);
    QCOMPARE(ruleRows(panel->hostRules()), rows);
    QCOMPARE(log->lines, lines);
}

void TestServerPanel::editedDomainTakesModeSyntax_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<int>("syntax");
    QTest::addColumn<QStringList>("matching");
    QTest::addColumn<QStringList>("notMatching");

    const QString wildcard = QStringLiteral("Wildcard");
    const QString regExp = QStringLiteral("Regular Expression");
    const int w = QRegExp::Wildcard, r = QRegExp::RegExp;
    QTest::newRow("wildcard: star") << wildcard << "*.new.test" << w
                                    << QStringList{"a.new.test", "A.NEW.TEST", "x.y.New.Test"}
                                    << QStringList{"new.test", "a.new.test.org"};
    QTest::newRow("wildcard: a set is one character")
        << wildcard << "[ab].new.test" << w << QStringList{"a.new.test", "B.New.Test"}
        << QStringList{"c.new.test", "aXnewXtest"};
    QTest::newRow("wildcard: regular expression text is literal")
        << wildcard << "(www|mail).new.test" << w << QStringList{"(WWW|mail).new.test"}
        << QStringList{"www.new.test", "mail.new.test"};
    QTest::newRow("regular expression: a set and any character")
        << regExp << "[ab].new.test" << r << QStringList{"a.new.test", "B.New.Test", "aXnewXtest"}
        << QStringList{"c.new.test"};
    QTest::newRow("regular expression: alternatives, whole name")
        << regExp << "(www|mail)\\.new\\.test" << r << QStringList{"WWW.new.test", "mail.NEW.test"}
        << QStringList{"ftp.new.test", "www.new.test.org", "xwww.new.test"};
    QTest::newRow("regular expression: a wildcard pattern is invalid and matches nothing")
        << regExp << "*.new.test" << r << QStringList() << QStringList{"a.new.test", "*.new.test"};
}

void TestServerPanel::editedDomainTakesModeSyntax()
{
    QFETCH(QString, mode);
    QFETCH(QString, domain);
    QFETCH(int, syntax);
    QFETCH(QStringList, matching);
    QFETCH(QStringList, notMatching);

    panel->setStatus(mode);
    performAll({"insNewRule", "type 3 0 192.0.2.99", QStringLiteral("type 3 1 ") + domain});
    const HostRule &rule = panel->hostRules().at(3);
    QCOMPARE(rule.pattern.pattern(), domain);
    QCOMPARE(int(rule.pattern.patternSyntax()), syntax);
    QCOMPARE(rule.pattern.caseSensitivity(), Qt::CaseInsensitive);

    // Through the socket: the next query already sees the edit.
    Client client;
    QVERIFY2(client.bind(), qPrintable(client.error()));
    const auto ask = [&](const QString &name) {
        QByteArray query = QByteArray::fromHex("0041 0100 0001 0000 0000 0000");
        for (const QString &label : name.split(QLatin1Char('.')))
            query += char(label.size()) + label.toLatin1();
        query += QByteArray::fromHex("00 0001 0001");
        client.send(query, serverPort());
        return client.firstReply();
    };
    for (const QString &name : matching) {
        const QByteArray reply = ask(name);
        QVERIFY2(reply.endsWith(QByteArray::fromHex("0004 c0000263")),
                 qPrintable(name + ": " + reply.toHex(' ')));
    }
    for (const QString &name : notMatching)
        QCOMPARE(ask(name).toHex(' '), spacedHex("0041 8102 0000 0000 0000 0000"));
}

void TestServerPanel::newRowMatchesOnlyTheRootName()
{
    panel->Wildcard();
    quint16 rdlength = 0;
    QByteArray rdata;
    QVERIFY(!panel->hostRules().findAnswer(QByteArray(), rdlength, rdata));
    panel->insNewRule();
    QVERIFY(panel->hostRules().findAnswer(QByteArray(), rdlength, rdata));
    QCOMPARE(rdlength, quint16(16));
    QCOMPARE(rdata, QByteArray(16, '\0'));
    QVERIFY(!panel->hostRules().findAnswer("new.test", rdlength, rdata));
}

QTEST_MAIN(TestServerPanel)
#include "tst_uiserverpanel.moc"
