#include "dns/UI_ServerPanel.h"

#include "dns/DnsMessage.h"
#include "dns/NameTest.h"
#include "dns/PatternCost.h"
#include "dns/QueryGraph.h"
#include "dns/RuleTableModel.h"
#include "log/LogSink.h"
#include "platform/DatagramBatch.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>
#include <QUdpSocket>

namespace {

const QString serverIsOff = QStringLiteral("Server is off");
constexpr int maxDatagramsPerCall = 64;

} // namespace

UI_ServerPanel::UI_ServerPanel(LogSink &logPanel, Platform &platform, QWidget *parent, quint16 port,
                               const QString &rollBackPath)
    : QWidget(parent), log(logPanel), platform(platform), dnsControl(platform, logPanel, rollBackPath),
      port(port), layout(new QGridLayout(this)), nameTest(new QLineEdit), nameVerdict(new QLabel),
      graph(new QueryGraph), table(new QTableView), ruleModel(new RuleTableModel(rules, this)),
      socket(new QUdpSocket(this)), datagrams(std::make_unique<DatagramBatch>(*socket, maxDatagramsPerCall))
#ifdef Q_OS_WIN
      ,
      socket6(new QUdpSocket(this)),
      datagrams6(std::make_unique<DatagramBatch>(*socket6, maxDatagramsPerCall))
#endif
{
    table->setModel(ruleModel);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setAlternatingRowColors(true);
    connect(ruleModel, &RuleTableModel::cellChanged, this, &UI_ServerPanel::saveCellChanges);
    nameTest->setPlaceholderText(QStringLiteral("Test a name"));
    nameTest->setToolTip(QStringLiteral("What the server answers for a name, and the rule that decides it"));
    nameTest->setClearButtonEnabled(true);
    nameTest->setMinimumWidth(240);
    connect(nameTest, &QLineEdit::textChanged, this, &UI_ServerPanel::nameTestEdited);
    nameVerdict->setTextInteractionFlags(Qt::TextSelectableByMouse);
    nameVerdict->setWordWrap(true);
    layout->addWidget(nameTest, 0, 0);
    layout->addWidget(nameVerdict, 0, 1);
    layout->setColumnStretch(1, 1);
    layout->addWidget(graph, 1, 0, 1, 2);
    layout->addWidget(table, 2, 0, 1, 2);
    auto *graphTimer = new QTimer(this);
    connect(graphTimer, &QTimer::timeout, this, &UI_ServerPanel::graphTimerElapsed);
    graphTimer->start(1000);
    graphTimerElapsed();
    setDisabled(true);
    setToolTip(serverIsOff);
}

UI_ServerPanel::~UI_ServerPanel() = default;

QRegExp::PatternSyntax UI_ServerPanel::syntaxOf(int mode)
{
    return mode == ServerState::RegularExpression ? QRegExp::RegExp : QRegExp::Wildcard;
}

void UI_ServerPanel::setStatus(const QString &str)
{
    if (str == QLatin1String("Regular Expression"))
        Regular_Expression();
    else if (str == QLatin1String("Off"))
        Off();
    else
        Wildcard();
}

void UI_ServerPanel::Wildcard()
{
    if (state == ServerState::Off)
        start(ServerState::Wildcard);
    else if (state == ServerState::RegularExpression)
        switchTo(ServerState::Wildcard);
}

void UI_ServerPanel::Regular_Expression()
{
    if (state == ServerState::Off)
        start(ServerState::RegularExpression);
    else if (state == ServerState::Wildcard)
        switchTo(ServerState::RegularExpression);
}

void UI_ServerPanel::start(int mode)
{
    log.appendLog(QStringLiteral("Starting server..."), LogLevel::Begins, false);
    if (mode == ServerState::RegularExpression)
        log.appendLog(QStringLiteral("Creating sockets..."), LogLevel::Begins, false);
    // A server nobody can reach is no server: the failed bind has said why, the panel stays off, and
    // the machine's DNS is not pointed at whatever else listens there.
    if (!bindSocket())
        return;
    if (mode == ServerState::RegularExpression)
        log.appendLog(QStringLiteral("Sockets created!"), LogLevel::Succeeds, false);
    loadHosts();
    applySyntax(mode);
    log.appendLog(QStringLiteral("%1 rules in total. Server started!").arg(rules.size()), LogLevel::Plain,
                  false);
    connect(socket, &QUdpSocket::readyRead, this, &UI_ServerPanel::handler, Qt::UniqueConnection);
#ifdef Q_OS_WIN
    // Without IPv6 only the IPv4 servers are pointed at the server, and its bind failure is logged.
    if (bindTo(*socket6, QHostAddress::LocalHostIPv6))
        connect(
            socket6, &QUdpSocket::readyRead, this, [this] { answerBatch(*datagrams6); },
            Qt::UniqueConnection);
#endif
    addDNSServer();
    flushDNSCache();
    state = mode;
    showNameTest();
}

void UI_ServerPanel::switchTo(int mode)
{
    applySyntax(mode);
    state = mode;
    showNameTest();
}

void UI_ServerPanel::applySyntax(int mode)
{
    if (mode == ServerState::RegularExpression) {
        log.appendLog(QStringLiteral("Setting server to regular expression..."), LogLevel::Begins, false);
        rules.setSyntax(QRegExp::RegExp);
        log.appendLog(QStringLiteral("Server set to regular expression!"), LogLevel::Succeeds, false);
    } else {
        log.appendLog(QStringLiteral("Setting server to wildcard..."), LogLevel::Begins, false);
        rules.setSyntax(QRegExp::Wildcard);
        log.appendLog(QStringLiteral("Server set to wildcard!"), LogLevel::Succeeds, false);
    }
    reportIntractableRules();
}

void UI_ServerPanel::reportIntractableRules()
{
    const int count = rules.intractableCount();
    if (count > 0)
        log.appendLog(QStringLiteral("%1 rule(s) will never match: pattern too long or too complex to match "
                                     "in bounded time")
                          .arg(count),
                      LogLevel::Fails, false);
}

bool UI_ServerPanel::bindSocket()
{
    return bindTo(*socket, QHostAddress::LocalHost);
}

bool UI_ServerPanel::bindTo(QUdpSocket &on, const QHostAddress &address)
{
    // Exclusive: no other socket may bind the same port beside ours and take our queries.
    if (on.bind(address, port, QAbstractSocket::DontShareAddress))
        return true;
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    if (on.error() == QAbstractSocket::SocketAccessError)
        log.appendLog(QStringLiteral("Can't listen on %1! Please 'Run as administrator'").arg(where),
                      LogLevel::Fails, false);
    else
        log.appendLog(QStringLiteral("Can't listen on %1: %2").arg(where, on.errorString()), LogLevel::Fails,
                      false);
    return false;
}

void UI_ServerPanel::Off()
{
    if (state == ServerState::Off)
        return;
    delDNSServer();
    socket->close();
#ifdef Q_OS_WIN
    socket6->close();
#endif
    ruleModel->clear();
    setDisabled(true);
    setToolTip(serverIsOff);
    state = ServerState::Off;
    showNameTest();
}

void UI_ServerPanel::handler()
{
    // Every waiting datagram, up to a bound: under a flood the event loop (the window, a stop, a
    // reload) still gets its turn between calls.
    answerBatch(*datagrams);
}

void UI_ServerPanel::answerBatch(DatagramBatch &batch)
{
    const int count = batch.receive();
    for (int index = 0; index < count; ++index)
        answerDatagram(batch, index);
    batch.send();
}

void UI_ServerPanel::answerDatagram(DatagramBatch &batch, int index)
{
    const QByteArray datagram = batch.datagram(index);
    DnsMessage message(datagram);
    QByteArray reply = message.buildReply(rules);
    if (message.isDroppable()) {
        log.appendLog(QStringLiteral("Dropped a datagram of %1 bytes from %2: too short for a DNS query")
                          .arg(datagram.size())
                          .arg(batch.sender(index).toString()),
                      LogLevel::Fails, true);
        return;
    }
    batch.reply(index, std::move(reply));
    const bool answered = message.header.RCODE == Dns::noError;
    if (answered)
        stats.answered(message.question.QNAME);
    else if (message.header.RCODE == Dns::serverFailure)
        stats.passedOn();
    if (!log.records(!answered))
        return; // no text to build for a log that keeps nothing of this query
    const QString question = QStringLiteral("Question for ") + QString::fromLatin1(message.question.QNAME);
    if (answered) {
        log.appendLog(question, LogLevel::Question, false);
        log.appendLog(QStringLiteral("Answered with ") + message.answerText(), LogLevel::Answer, false);
    } else {
        log.appendLog(question, LogLevel::Question, true);
    }
}

void UI_ServerPanel::loadHosts()
{
    const QString path = platform.systemHostsPathSlashed();
    const QStringList unread = ruleModel->load(path, servedLists);
    for (const QString &list : unread)
        log.appendLog(QStringLiteral("Can't read %1! Its lines are not served").arg(list), LogLevel::Fails,
                      false);
    if (state != ServerState::Off) {
        rules.setSyntax(syntaxOf(state));
        reportIntractableRules();
        // A start counts its rules in its own line; a reload would otherwise drop them in silence.
        const QFileInfo file(path);
        if (!file.isFile() || !file.isReadable())
            log.appendLog(QStringLiteral("Can't read %1! The server has no rules").arg(path), LogLevel::Fails,
                          false);
    }
    setDisabled(false);
    setToolTip(QString());
    fitTable();
    showNameTest();
}

void UI_ServerPanel::fitTable()
{
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    repaint();
}

void UI_ServerPanel::addDNSServer()
{
    dnsControl.addDNSServer();
}

void UI_ServerPanel::registerDNSDone(int, QProcess::ExitStatus)
{
    // The registration is not awaited; nothing depends on its end.
}

void UI_ServerPanel::delDNSServer()
{
    dnsControl.delDNSServer();
}

void UI_ServerPanel::flushDNSCache()
{
    dnsControl.flushDNSCache();
}

void UI_ServerPanel::delCurrentRow()
{
    QModelIndexList selected = table->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() > b.row(); });
    for (const QModelIndex &index : selected) {
        if (index.row() < rules.size())
            ruleModel->removeRule(index.row());
    }
    showNameTest();
    log.appendLog(QStringLiteral("Rule(s) deleted successfully! Notice that the changes won't be saved."),
                  LogLevel::Succeeds, false);
}

void UI_ServerPanel::saveCellChanges(int row, int column)
{
    if (row < 0 || row >= rules.size() || (column != 0 && column != 1))
        return;
    const QString text = ruleModel->cellText(row, column);
    const HostRule old = rules.at(row);
    HostRule rule;
    rule.address = old.address;
    if (column == 0) {
        rule.address.clear(); // text that is no address leaves a null address, not the old bytes
        rule.address.setAddress(text);
    }
    setPatternLazily(rule.pattern, column == 1 ? text : old.pattern.pattern(),
                     column == 1 ? syntaxOf(state) : old.pattern.patternSyntax(), Qt::CaseInsensitive);
    if (column == 1 && !isTractable(rule.pattern))
        log.appendLog(QStringLiteral("Rule %1 will never match: pattern too long or too complex to match in "
                                     "bounded time")
                          .arg(row + 1),
                      LogLevel::Fails, false);
    ruleModel->replaceRule(row, rule);
    showNameTest();
}

void UI_ServerPanel::insNewRule()
{
    ruleModel->appendRule();
    table->scrollToBottom();
    showNameTest(); // an empty rule answers the root name
    log.appendLog(QStringLiteral("New rule added successfully! Notice that the changes won't be saved."),
                  LogLevel::Succeeds, false);
}

void UI_ServerPanel::nameTestEdited()
{
    showNameTest();
}

void UI_ServerPanel::graphTimerElapsed()
{
    stats.setMinute(QDateTime::currentSecsSinceEpoch() / 60);
    if (graph->isVisible())
        graph->setHour(stats.lastHour());
}

void UI_ServerPanel::showNameTest()
{
    const QString typed = nameTest->text();
    if (state == ServerState::Off || typed.trimmed().isEmpty()) {
        nameVerdict->clear();
        return;
    }
    const NameTest test = testName(rules, typed);
    nameVerdict->setText(describeNameTest(test, rules, ruleModel->origin(test.rule)));
}
