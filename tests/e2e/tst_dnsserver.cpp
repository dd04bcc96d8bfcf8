#include "tests/support/ProgramUnderTest.h"
#include "tests/support/Sandbox.h"
#include "tests/support/WholeFile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <memory>

namespace {

// Inside the sandbox these are the overlay's copies, never the machine's own files.
const QString hostsPath = QStringLiteral("/etc/hosts");
const QString resolvConfPath = QStringLiteral("/etc/resolv.conf");
const QString nsswitchPath = QStringLiteral("/etc/nsswitch.conf");

const QByteArray hostsText = "127.0.0.1 localhost\n"
                             "0.0.0.0 *.blocked.test\n"
                             "::1 *.six.test\n"
                             "127.0.0.9 exact.test *\n";

// The next name server, 127.0.0.2, is a dnsmasq where a test starts one.
const QByteArray resolvConf = "# resolver of the test\n"
                              "search example.internal\n"
                              "nameserver 127.0.0.2\n"
                              "options edns0\n";
const QByteArray resolvConfServing = "# resolver of the test\n"
                                     "search example.internal\n"
                                     "nameserver 127.0.0.1\n"
                                     "nameserver 127.0.0.2\n"
                                     "options edns0\n";

// Texts of the program's log file.
const QString failedBind =
    QStringLiteral(" : Can't listen on 127.0.0.1:53: The bound address is already in use\n");
const QString serverStarted = QStringLiteral(" : 3 rules in total. Server started!\n");

struct Run {
    int exitCode = -1; // -1: crashed or did not end in time
    QString output;    // standard output and error
    qint64 elapsedMs = 0;
};

Run run(const QString &program, const QStringList &arguments, int timeoutMs = 30000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const bool ended = process.waitForFinished(timeoutMs);
    Run result;
    result.elapsedMs = clock.elapsed();
    if (!ended) {
        process.kill();
        process.waitForFinished(5000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

struct DigReply {
    QString status;
    QStringList question; // lines of the question section, blanks simplified
    QStringList answers;  // lines of the answer section, blanks simplified
};

QStringList sectionOf(const QString &output, const QString &title)
{
    QStringList lines;
    const QStringList all = output.split(QLatin1Char('\n'));
    for (qsizetype i = all.indexOf(title) + 1; i > 0 && i < all.size() && !all.at(i).isEmpty(); ++i)
        lines << all.at(i).simplified();
    return lines;
}

DigReply parseDig(const QString &output)
{
    static const QRegularExpression status(QStringLiteral("->>HEADER<<- opcode: QUERY, status: ([A-Z]+),"));
    DigReply reply;
    reply.status = status.match(output).captured(1);
    reply.question = sectionOf(output, QStringLiteral(";; QUESTION SECTION:"));
    reply.answers = sectionOf(output, QStringLiteral(";; ANSWER SECTION:"));
    return reply;
}

// A number of dnsperf's summary, such as "Queries lost:", or -1.
qint64 dnsperfCount(const QString &output, const QString &label)
{
    const QRegularExpression pattern(QRegularExpression::escape(label) + QStringLiteral("\\s+(\\d+)"));
    const QRegularExpressionMatch match = pattern.match(output);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

QStringList firstFields(const QString &output)
{
    QStringList fields;
    for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        fields << line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    return fields;
}

} // namespace

class TestDnsServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void digAnswers_data();
    void digAnswers();
    void blockedNamesResolveAtOnce_data();
    void blockedNamesResolveAtOnce();
    void resolvConfRoundTrip();
    void dnsperfLosesNoQuery();
    void unruledNameResolvesThroughNextServer();
    void failedBindIsReported();

private:
    // Starts the program in its own folder; true once it serves (127.0.0.1 is the first name server).
    bool startProgram();
    // Starts dnsmasq on 127.0.0.2:53, knowing only fallback.test; true once it answers.
    bool startDnsmasq();

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<ProgramUnderTest> program;
    std::unique_ptr<QProcess> dnsmasq;
};

void TestDnsServer::initTestCase()
{
    TARNOWLOCK_REQUIRE_SANDBOX();
    // Host names go to the files, then to the name servers of resolv.conf; no caching or other
    // resolver module of this machine may answer in between.
    static const QRegularExpression hostsLine(QStringLiteral("^hosts:.*$"),
                                              QRegularExpression::MultilineOption);
    QString text = QString::fromUtf8(readWholeFile(nsswitchPath));
    if (text.contains(hostsLine))
        text.replace(hostsLine, QStringLiteral("hosts: files dns"));
    else
        text = QStringLiteral("hosts: files dns\n");
    QVERIFY(writeWholeFile(nsswitchPath, text.toUtf8()));
}

void TestDnsServer::init()
{
    QVERIFY(writeWholeFile(hostsPath, hostsText));
    QVERIFY(writeWholeFile(resolvConfPath, resolvConf));
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
}

void TestDnsServer::cleanup()
{
    // A program still running here has failed a check: it is killed, and the next init writes
    // the resolver configuration afresh.
    program.reset();
    if (dnsmasq) {
        dnsmasq->terminate();
        if (!dnsmasq->waitForFinished(5000)) {
            dnsmasq->kill();
            dnsmasq->waitForFinished(5000);
        }
        dnsmasq.reset();
    }
    folder.reset();
}

bool TestDnsServer::startProgram()
{
    program = std::make_unique<ProgramUnderTest>(folder->path());
    if (!program->start())
        return false;
    return QTest::qWaitFor([] { return readWholeFile(resolvConfPath).contains("nameserver 127.0.0.1\n"); },
                           10000);
}

bool TestDnsServer::startDnsmasq()
{
    dnsmasq = std::make_unique<QProcess>();
    dnsmasq->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    dnsmasq->start(QStringLiteral("dnsmasq"),
                   {QStringLiteral("--keep-in-foreground"), QStringLiteral("--conf-file=/dev/null"),
                    QStringLiteral("--listen-address=127.0.0.2"), QStringLiteral("--bind-interfaces"),
                    QStringLiteral("--port=53"), QStringLiteral("--no-resolv"), QStringLiteral("--no-hosts"),
                    QStringLiteral("--address=/fallback.test/192.0.2.55"), QStringLiteral("--pid-file=")});
    if (!dnsmasq->waitForStarted(5000))
        return false;
    return QTest::qWaitFor(
        [] {
            const Run dig =
                run(QStringLiteral("dig"),
                    {QStringLiteral("@127.0.0.2"), QStringLiteral("+short"), QStringLiteral("+tries=1"),
                     QStringLiteral("+time=1"), QStringLiteral("fallback.test")});
            return dig.output.trimmed() == QLatin1String("192.0.2.55");
        },
        10000);
}

void TestDnsServer::digAnswers_data()
{
    QTest::addColumn<QStringList>("query"); // dig's arguments
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("question");
    QTest::addColumn<QStringList>("answers");

    // Each rule answers with its own type; the question comes back as asked, letter case included.
    QTest::newRow("A, IPv4 rule, mixed case")
        << QStringList{"-t", "A", "Www.Blocked.TEST"} << "NOERROR" << QStringList{";Www.Blocked.TEST. IN A"}
        << QStringList{"Www.Blocked.TEST. 3600 IN A 0.0.0.0"};
    QTest::newRow("AAAA, IPv6 rule, upper case")
        << QStringList{"-t", "AAAA", "A.SIX.TEST"} << "NOERROR" << QStringList{";A.SIX.TEST. IN AAAA"}
        << QStringList{"A.SIX.TEST. 3600 IN AAAA ::1"};
    QTest::newRow("ANY, IPv4 rule, deeper name")
        << QStringList{"+notcp", "-t", "ANY", "deep.sub.blocked.test"} << "NOERROR"
        << QStringList{";deep.sub.blocked.test. IN ANY"}
        << QStringList{"deep.sub.blocked.test. 3600 IN A 0.0.0.0"};
    QTest::newRow("A, exact name") << QStringList{"-t", "A", "EXACT.test"} << "NOERROR"
                                   << QStringList{";EXACT.test. IN A"}
                                   << QStringList{"EXACT.test. 3600 IN A 127.0.0.9"};
    QTest::newRow("A, IPv4 rule, without EDNS")
        << QStringList{"+noedns", "-t", "A", "www.blocked.test"} << "NOERROR"
        << QStringList{";www.blocked.test. IN A"} << QStringList{"www.blocked.test. 3600 IN A 0.0.0.0"};

    // Other types of a ruled name: no data, at once.
    QTest::newRow("AAAA, IPv4 rule") << QStringList{"-t", "AAAA", "www.blocked.test"} << "NOERROR"
                                     << QStringList{";www.blocked.test. IN AAAA"} << QStringList();
    QTest::newRow("A, IPv6 rule") << QStringList{"-t", "A", "x.Six.test"} << "NOERROR"
                                  << QStringList{";x.Six.test. IN A"} << QStringList();
    QTest::newRow("MX, IPv4 rule") << QStringList{"-t", "MX", "Mail.blocked.TEST"} << "NOERROR"
                                   << QStringList{";Mail.blocked.TEST. IN MX"} << QStringList();
    QTest::newRow("MX, IPv6 rule") << QStringList{"-t", "MX", "mail.six.test"} << "NOERROR"
                                   << QStringList{";mail.six.test. IN MX"} << QStringList();

    // No rule: SERVFAIL, so that the resolver asks its next server.
    QTest::newRow("A, no rule") << QStringList{"-t", "A", "nothing.example"} << "SERVFAIL" << QStringList()
                                << QStringList();
    QTest::newRow("AAAA, no rule") << QStringList{"-t", "AAAA", "nothing.example"} << "SERVFAIL"
                                   << QStringList() << QStringList();
    QTest::newRow("A, bare domain of a wildcard rule")
        << QStringList{"-t", "A", "blocked.test"} << "SERVFAIL" << QStringList() << QStringList();
    QTest::newRow("A, below an exact name")
        << QStringList{"-t", "A", "sub.exact.test"} << "SERVFAIL" << QStringList() << QStringList();
}

void TestDnsServer::digAnswers()
{
    QFETCH(QStringList, query);
    QFETCH(QString, status);
    QFETCH(QStringList, question);
    QFETCH(QStringList, answers);

    QVERIFY(startProgram());
    const Run dig = run(QStringLiteral("dig"), QStringList{"@127.0.0.1", "+tries=1", "+time=2"} + query);
    QVERIFY2(dig.exitCode == 0, qPrintable(dig.output));
    const DigReply reply = parseDig(dig.output);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.question, question);
    QCOMPARE(reply.answers, answers);
    // dig accepts the reply as it is: no complaint about its form, its question or EDNS.
    for (const char *complaint : {"FORMERR", "malformed", "bad packet", "mismatch", "EDNS"})
        QVERIFY2(!dig.output.contains(QLatin1String(complaint)), qPrintable(dig.output));
    QVERIFY(program->stop(SIGTERM));
}

void TestDnsServer::blockedNamesResolveAtOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::newRow("IPv4 rule") << "a.blocked.test"
                               << "0.0.0.0";
    QTest::newRow("IPv4 rule, upper case") << "WWW.BLOCKED.TEST"
                                           << "0.0.0.0";
    QTest::newRow("IPv6 rule") << "a.six.test"
                               << "::1";
}

void TestDnsServer::blockedNamesResolveAtOnce()
{
    QFETCH(QString, name);
    QFETCH(QString, address);

    QVERIFY(startProgram());
    // Both families are asked; the type without a record must come back at once as "no data",
    // not after the resolver's timeout.
    const Run getent = run(QStringLiteral("getent"), {QStringLiteral("ahosts"), name});
    QVERIFY2(getent.exitCode == 0, qPrintable(getent.output));
    const QStringList addresses = firstFields(getent.output);
    QVERIFY2(!addresses.isEmpty(), qPrintable(getent.output));
    QCOMPARE(addresses, QStringList(addresses.size(), address));
    QVERIFY2(getent.elapsedMs < 1000, qPrintable(QStringLiteral("took %1 ms").arg(getent.elapsedMs)));
    QVERIFY(program->stop(SIGTERM));
}

void TestDnsServer::resolvConfRoundTrip()
{
    QVERIFY(startProgram());
    QCOMPARE(readWholeFile(resolvConfPath), resolvConfServing);
    const QString rollBack = QDir(folder->path()).filePath(QStringLiteral("DNS"));
    QCOMPARE(readWholeFile(rollBack), QByteArray("/etc/resolv.conf 127.0.0.2\n"));

    QVERIFY(program->stop(SIGTERM));
    QCOMPARE(program->process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->process().exitCode(), 0);
    QCOMPARE(readWholeFile(resolvConfPath), resolvConf);
    QVERIFY(!QFile::exists(rollBack));
    const QString log = program->logText();
    QVERIFY2(log.contains(QLatin1String(" : DNS rolled back!\n")), qPrintable(log));
}

void TestDnsServer::dnsperfLosesNoQuery()
{
    const QString queries = folder->filePath(QStringLiteral("queries"));
    QVERIFY(writeWholeFile(queries, "www.blocked.test A\n"
                                    "Mail.Blocked.Test AAAA\n"
                                    "x.six.test AAAA\n"
                                    "exact.test A\n"
                                    "nothing.example A\n"));
    QVERIFY(startProgram());
    const Run dnsperf = run(QStringLiteral("dnsperf"),
                            {QStringLiteral("-s"), QStringLiteral("127.0.0.1"), QStringLiteral("-d"), queries,
                             QStringLiteral("-l"), QStringLiteral("3"), QStringLiteral("-Q"),
                             QStringLiteral("500"), QStringLiteral("-t"), QStringLiteral("2")});
    QVERIFY2(dnsperf.exitCode == 0, qPrintable(dnsperf.output));
    const qint64 sent = dnsperfCount(dnsperf.output, QStringLiteral("Queries sent:"));
    QVERIFY2(sent >= 1000, qPrintable(dnsperf.output)); // 500 a second for 3 seconds
    QCOMPARE(dnsperfCount(dnsperf.output, QStringLiteral("Queries completed:")), sent);
    QCOMPARE(dnsperfCount(dnsperf.output, QStringLiteral("Queries lost:")), 0);
    QVERIFY2(!dnsperf.output.contains(QLatin1String("FORMERR")), qPrintable(dnsperf.output));
    QVERIFY(program->stop(SIGTERM));
}

void TestDnsServer::unruledNameResolvesThroughNextServer()
{
    QVERIFY(startDnsmasq());
    QVERIFY(startProgram());
    QCOMPARE(readWholeFile(resolvConfPath), resolvConfServing);

    // SERVFAIL from the first server sends the resolver on to the next one, without a wait.
    const Run fallback =
        run(QStringLiteral("getent"), {QStringLiteral("hosts"), QStringLiteral("fallback.test")});
    QVERIFY2(fallback.exitCode == 0, qPrintable(fallback.output));
    QCOMPARE(firstFields(fallback.output), QStringList{"192.0.2.55"});
    QVERIFY2(fallback.elapsedMs < 1000, qPrintable(QStringLiteral("took %1 ms").arg(fallback.elapsedMs)));

    // A ruled name is still decided by the first server.
    const Run blocked =
        run(QStringLiteral("getent"), {QStringLiteral("hosts"), QStringLiteral("a.blocked.test")});
    QVERIFY2(blocked.exitCode == 0, qPrintable(blocked.output));
    QCOMPARE(firstFields(blocked.output), QStringList{"0.0.0.0"});
    QVERIFY(program->stop(SIGTERM));
}

void TestDnsServer::failedBindIsReported()
{
    QUdpSocket taken;
    QVERIFY2(taken.bind(QHostAddress::LocalHost, 53, QAbstractSocket::DontShareAddress),
             qPrintable(taken.errorString()));
    QVERIFY(startProgram());
    QVERIFY(program->stop(SIGTERM));
    QCOMPARE(program->process().exitCode(), 0);
    const QString log = program->logText();
    // The failure is told; the rest of the start goes on in its order.
    const qsizetype starting = log.indexOf(QLatin1String(" : Starting server...\n"));
    const qsizetype failure = log.indexOf(failedBind);
    const qsizetype started = log.indexOf(serverStarted);
    const qsizetype launched = log.indexOf(QLatin1String(" : Tarnowlock launched!\n"));
    QVERIFY2(starting >= 0 && starting < failure && failure < started && started < launched, qPrintable(log));
    QCOMPARE(readWholeFile(resolvConfPath), resolvConf);
}

TARNOWLOCK_SANDBOXED_TEST_MAIN(TestDnsServer)
#include "tst_dnsserver.moc"
