#pragma once

#include "dns/DnsControl.h"
#include "dns/HostRule.h"
#include "dns/QueryStats.h"

#include <QProcess>
#include <QWidget>

#include <memory>

class DatagramBatch;
class LogSink;
class Platform;
class QueryGraph;
class QGridLayout;
class QLabel;
class QLineEdit;
class QTableView;
class RuleTableModel;
class QUdpSocket;

namespace ServerState {
enum : int { Wildcard = 0, RegularExpression = 1, Off = 2 };
}

// The local DNS server: a UDP socket on 127.0.0.1, the rules taken from the wildcard lines of the
// system hosts file, shown in a table where the user may add, edit and delete them, and the
// machine's DNS pointed at the server while it runs.
class UI_ServerPanel : public QWidget {
    Q_OBJECT

public:
    // The program serves on port 53; tests pass a free port. The roll-back file of the DNS change
    // is `rollBackPath`.
    UI_ServerPanel(LogSink &logPanel, Platform &platform, QWidget *parent = nullptr, quint16 port = 53,
                   const QString &rollBackPath = QStringLiteral("DNS"));
    ~UI_ServerPanel() override;

    int serverState() const { return state; }
    const HostRules &hostRules() const { return rules; }
    QTableView *ruleTable() const { return table; }
    QLineEdit *nameTestEdit() const { return nameTest; }
    QLabel *nameTestVerdict() const { return nameVerdict; }
    QUdpSocket *serverSocket() const { return socket; }
    const QueryStats &queryStats() const { return stats; }
    // The lists whose every line the server answers after the system hosts file's wildcard lines,
    // in this order; they take effect at the next loadHosts() or start.
    void setServedLists(const QStringList &paths) { servedLists = paths; }
    // True while the machine's DNS is pointed at the server by this run.
    bool dnsPointsHere() const { return dnsControl.pointsHere(); }

public slots:
    void setStatus(const QString &str);
    void Wildcard();
    void Regular_Expression();
    void Off();
    void handler();
    void loadHosts();
    void addDNSServer();
    void registerDNSDone(int exitCode, QProcess::ExitStatus exitStatus);
    void delDNSServer();
    void flushDNSCache();
    void delCurrentRow();
    void saveCellChanges(int row, int column);
    void insNewRule();
    void nameTestEdited();
    // Moves the counts to the clock's minute and redraws the graph: once a second.
    void graphTimerElapsed();

private:
    // Answers every datagram waiting in `batch`, up to its capacity.
    void answerBatch(DatagramBatch &batch);
    // Answers datagram `index` of `batch`.
    void answerDatagram(DatagramBatch &batch, int index);
    void start(int mode);
    void switchTo(int mode);
    void applySyntax(int mode);
    // Logs how many rules never match because their pattern is too costly (dns/PatternCost.h).
    void reportIntractableRules();
    // Binds the socket to 127.0.0.1 and the panel's port; a failure is logged and gives false.
    bool bindSocket();
    // Binds `on` to `address` and the panel's port; a failure is logged and gives false.
    bool bindTo(QUdpSocket &on, const QHostAddress &address);
    void fitTable();
    // Shows what the server answers now for the name in the test box.
    void showNameTest();
    static QRegExp::PatternSyntax syntaxOf(int mode);

    LogSink &log;
    Platform &platform;
    DnsControl dnsControl;
    HostRules rules;
    QStringList servedLists;
    int state = ServerState::Off;
    quint16 port;
    QGridLayout *layout;
    QLineEdit *nameTest;
    QLabel *nameVerdict;
    QueryStats stats;
    QueryGraph *graph;
    QTableView *table;
    RuleTableModel *ruleModel;
    QUdpSocket *socket;
    std::unique_ptr<DatagramBatch> datagrams;
#ifdef Q_OS_WIN
    // Windows asks over IPv6 too, where an interface's IPv6 servers are pointed at ::1.
    QUdpSocket *socket6;
    std::unique_ptr<DatagramBatch> datagrams6;
#endif
};
