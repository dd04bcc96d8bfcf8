// The real program inside the namespace sandbox: real resolvers against its server on 127.0.0.1:53,
// the machine's name servers after it stops or is killed, and one running instance per folder.
#include "tests/support/DnsTestClient.h"
#include "tests/support/ProgramUnderTest.h"
#include "tests/support/Sandbox.h"
#include "tests/support/SqlFile.h"
#include "tests/support/TestFiles.h"

#include "log/JournalWriter.h"
#include "log/LogSink.h"
#include "platform/LinuxPlatform.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Inside the sandbox this is the overlay's copy, never the machine's own file.
const QString resolvConfPath = QStringLiteral("/etc/resolv.conf");
// The next name server is a dnsmasq on 127.0.0.2. A resolver that drops a reply of ours asks it
// after a second, and gets its own addresses for a.blocked.test.
const QByteArray resolvConf = "# resolver of the test\nsearch example.internal\nnameserver 127.0.0.2\n"
                              "options timeout:1 attempts:1\n";

// Standard output and error of a command run to its end.
QString run(const QStringList &command)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    process.waitForFinished(60000);
    return QString::fromLocal8Bit(process.readAll());
}

// What a resolver made of the replies: getent's addresses, each once; dig's status, question and
// answer lines, blanks simplified, joined by " | ".
QString outcome(QStringList command)
{
    static const QRegularExpression status(QStringLiteral("->>HEADER<<- .* status: ([A-Z]+),"));
    const bool dig = command.first() == QLatin1String("dig");
    QStringList parts;
    for (const QString &line : run(dig ? command << "+nocmd" : command).split(u'\n', Qt::SkipEmptyParts)) {
        if (!dig)
            parts << line.section(QLatin1Char(' '), 0, 0);
        else if (const QRegularExpressionMatch header = status.match(line); header.hasMatch())
            parts << header.captured(1);
        else if (!line.startsWith(QLatin1String(";;")) && !line.startsWith(QLatin1String("; ")))
            parts << line.simplified(); // the question (";name IN type") and the answers
    }
    parts.removeDuplicates();
    return parts.join(dig ? QStringLiteral(" | ") : QStringLiteral(" "));
}

} // namespace

class TestProgram : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void resolvers_data();
    void resolvers();
    void dnsperfLosesNoQuery();
    void fullDiskUnderTheLog();
    void journalLosesLinesOnAFullDisk();
    void stopGivesNameServersBack_data();
    void stopGivesNameServersBack();
    void rewriteByAnotherProgramIsUndone_data();
    void rewriteByAnotherProgramIsUndone();
    void failedBindIsReported();
    void listsServedByTheServer_data();
    void listsServedByTheServer();
    void secondStartHandsOver_data();
    void secondStartHandsOver();
    void secondStartShowsTheWindow();
    void squatterStopsNothing();
    void installedCopyOfTheUser_data();
    void installedCopyOfTheUser();
    void terminationEndsAStartUpBox();
    void elevationSeenUnderHiddenProc();

private:
    // Starts the program; true once it answers for a ruled name on 127.0.0.1:53.
    bool serve();

    QProcess dnsmasq;
    std::unique_ptr<SharedTemporaryDir> folder; // other users start the program in it too
    std::unique_ptr<ProgramUnderTest> program;
};

void TestProgram::initTestCase()
{
    // Host names go to /etc/hosts, then to the name servers of resolv.conf, and nowhere else.
    QVERIFY(writeWholeFile(QStringLiteral("/etc/nsswitch.conf"), "hosts: files dns\n"));
    QVERIFY(writeWholeFile(QStringLiteral("/etc/hosts"),
                           "127.0.0.1 localhost\n0.0.0.0 *.blocked.test\n::1 *.six.test\n"));
    // Started first: a server of ours bound to every address would now find port 53 taken.
    dnsmasq.start(QStringLiteral("dnsmasq"), {"--keep-in-foreground", "--conf-file=/dev/null", "--pid-file=",
                                              "--no-resolv", "--no-hosts", "--listen-address=127.0.0.2",
                                              "--bind-interfaces", "--host-record=fallback.test,192.0.2.55",
                                              "--host-record=a.blocked.test,192.0.2.66,2001:db8::66"});
    QTRY_COMPARE_WITH_TIMEOUT(run({"dig", "@127.0.0.2", "+short", "fallback.test"}),
                              QStringLiteral("192.0.2.55\n"), 10000);
}

void TestProgram::cleanupTestCase()
{
    dnsmasq.terminate();
    dnsmasq.waitForFinished(5000);
}

void TestProgram::init()
{
    QFile::remove(resolvConfPath); // a link a row left
    QVERIFY(writeWholeFile(resolvConfPath, resolvConf));
    folder = std::make_unique<SharedTemporaryDir>();
    program = std::make_unique<ProgramUnderTest>(folder->path());
}

void TestProgram::cleanup()
{
    program.reset(); // ended, if a failed check left it running
    folder.reset();
}

bool TestProgram::serve()
{
    return program->start() &&
           DnsTestClient().askUntilServed("www.blocked.test", 53, 10000) == QLatin1String("0.0.0.0");
}

void TestProgram::resolvers_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("outcome");

    // A rule answers its own type; the question comes back as asked, capitals included.
    QTest::newRow("dig A of a wildcard rule")
        << QStringList{"dig", "@127.0.0.1", "Www.Blocked.TEST"}
        << "NOERROR | ;Www.Blocked.TEST. IN A | Www.Blocked.TEST. 3600 IN A 0.0.0.0";
    QTest::newRow("dig AAAA of an IPv6 rule")
        << QStringList{"dig", "@127.0.0.1", "AAAA", "a.six.test"}
        << "NOERROR | ;a.six.test. IN AAAA | a.six.test. 3600 IN AAAA ::1";
    // Any other type of a ruled name: no data, so the resolver asks no further.
    QTest::newRow("dig MX of a ruled name") << QStringList{"dig", "@127.0.0.1", "MX", "mail.blocked.test"}
                                            << "NOERROR | ;mail.blocked.test. IN MX";
    // No rule: SERVFAIL, and the next name server of resolv.conf answers.
    QTest::newRow("dig of an unruled name")
        << QStringList{"dig", "+nofail", "fallback.test"}
        << "NOERROR | ;fallback.test. IN A | fallback.test. 0 IN A 192.0.2.55";
    // Both families asked at once: neither reply is dropped, or dnsmasq's addresses would show.
    QTest::newRow("getent of a blocked name")
        << QStringList{"getent", "ahosts", "a.blocked.test"} << "0.0.0.0";
}

void TestProgram::resolvers()
{
    QFETCH(QStringList, command);
    QFETCH(QString, outcome);
    QVERIFY(serve());
    QCOMPARE(::outcome(command), outcome);
}

void TestProgram::dnsperfLosesNoQuery()
{
    const QString queries = folder->filePath(QStringLiteral("queries"));
    QVERIFY(writeWholeFile(queries, "www.blocked.test A\nMail.Blocked.Test AAAA\nx.six.test AAAA\n"
                                    "nothing.example A\n"));
    QVERIFY(serve());
    // The file 250 times at 500 queries a second; a reply later than 2 s counts as lost.
    const QString report =
        run({"dnsperf", "-s", "127.0.0.1", "-d", queries, "-n", "250", "-Q", "500", "-t", "2"}).simplified();
    QVERIFY2(report.contains(QLatin1String("Queries completed: 1000 (100.00%) Queries lost: 0 (0.00%)")),
             qPrintable(report));
    QVERIFY2(report.contains(QLatin1String("Response codes: NOERROR 750 (75.00%), SERVFAIL 250 (25.00%)")),
             qPrintable(report));
}

// The log's file system full while queries come: every query is answered, the failure is said once,
// and once there is room again the kept lines reach the file, none cut, which is named complete.
void TestProgram::fullDiskUnderTheLog()
{
    const QString log = folder->filePath(QStringLiteral("log"));
    QCOMPARE(QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64m", "tmpfs", log}), 0);
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-l", log}); });
    QVERIFY(writeWholeFile(log + "/filler", QByteArray((64 << 20) - (64 << 10), 'x')));
    const QString queries = folder->filePath(QStringLiteral("queries"));
    QVERIFY(writeWholeFile(queries, "www.blocked.test A\nnothing.example A\n"));
    QVERIFY(serve());
    const QString flood =
        run({"dnsperf", "-s", "127.0.0.1", "-d", queries, "-n", "2000", "-t", "2"}).simplified();
    QVERIFY2(flood.contains(QLatin1String("Queries lost: 0 (0.00%)")), qPrintable(flood));
    QTest::qWait(1000); // the lines have met the full disk
    QVERIFY(QFile::remove(log + "/filler"));
    // Written by the writer's next try, not only at the quit.
    const auto written = [&] {
        return readWholeFile(log + '/' + QDir(log).entryList({"*.unfinished"}).value(0));
    };
    QTRY_COMPARE_WITH_TIMEOUT(written().count(" : Question for nothing.example\n"), 2000, 3000);
    QVERIFY(program->stop(SIGTERM));
    const QString text = program->logText();
    QCOMPARE(text.count(QLatin1String("Can't write the log file")), 1);
    QCOMPARE(text.count(QLatin1String(" : Question for nothing.example\n")), 2000);
    // One time stamp a line: none cut, none joined to the next.
    QCOMPARE(text.count(QRegularExpression("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} : ")),
             text.count('\n'));
}

// Past what it keeps in memory a full disk costs lines: they are counted, the kept ones are written
// whole once there is room, and a run that lost lines its file does not tell of is not complete.
void TestProgram::journalLosesLinesOnAFullDisk()
{
    const QString log = folder->filePath(QStringLiteral("log/"));
    QCOMPARE(QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=16m", "tmpfs", log}), 0);
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-l", log}); });
    QVERIFY(writeWholeFile(log + "filler", QByteArray((16 << 20) - (16 << 10), 'x')));
    JournalWriter writer(log, 1 << 30);
    const std::vector<LogLine> lines(100000, LogLine{0, LogLevel::Plain, QString(60, u'x')}); // 8.8 MB
    writer.write(lines);
    QVERIFY(writer.failing());
    QVERIFY(QFile::remove(log + "filler"));
    QVERIFY(!writer.finish(QStringLiteral("2026-01-01_00.00.00")));
    const QString said = writer.takeReports().back().message;
    const qint64 lost = said.section(' ', 0, 0).toLongLong();
    const QString run = log + QDir(log).entryList({"*.log.unfinished"}).value(0);
    QVERIFY2(lost > 0 && QFileInfo(run).size() == (qint64(lines.size()) - lost) * 87, qPrintable(said));
}

void TestProgram::stopGivesNameServersBack_data()
{
    QTest::addColumn<int>("signal"); // after SIGKILL the next run ends with SIGTERM
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP, its terminal closed") << SIGHUP;
    QTest::newRow("SIGKILL, then the next run ends") << SIGKILL;
}

void TestProgram::stopGivesNameServersBack()
{
    QFETCH(int, signal);
    const bool killedFirst = signal == SIGKILL;
    QVERIFY(serve());
    QVERIFY(readWholeFile(resolvConfPath) != resolvConf);
    const QDir logDir(folder->filePath("log"));
    const auto unfinished = [&] { return logDir.filePath(logDir.entryList({"*.log.unfinished"}).value(0)); };
    QByteArray lines; // of a killed run: they reach disk within a second, and stay after the kill
    if (killedFirst) {
        QTRY_VERIFY_WITH_TIMEOUT(readWholeFile(unfinished()).contains(" : Tarnowlock launched!\n"), 5000);
        QVERIFY(program->stop(SIGKILL));
        lines = readWholeFile(unfinished());
        // Nothing it held may block this start.
        program = std::make_unique<ProgramUnderTest>(folder->path());
        QVERIFY(serve());
    }
    QVERIFY(program->stop(killedFirst ? SIGTERM : signal));
    QCOMPARE(program->process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->process().exitCode(), 0);
    QCOMPARE(readWholeFile(resolvConfPath), resolvConf);
    QVERIFY(!QFile::exists(folder->filePath(QStringLiteral("DNS"))));
    const QString log = program->logText(); // named as it ends
    QVERIFY2(log.contains(QLatin1String(" : DNS rolled back!\n")), qPrintable(log));
    QCOMPARE(logDir.entryList({"*.log.unfinished"}).size(), int(killedFirst));
    QVERIFY(!killedFirst || readWholeFile(unfinished()) == lines); // left alone by the next run
}

// Another program rewrites the resolver configuration twice while the server runs: each time
// 127.0.0.1 is put first again and a ruled name is answered by the server, not by 127.0.0.2; the
// roll back gives back that program's last file.
void TestProgram::rewriteByAnotherProgramIsUndone_data()
{
    QTest::addColumn<bool>(
        "stub"); // resolv.conf a link to a stub file elsewhere, as systemd-resolved makes it
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("renamed over") << false << false;
    QTest::newRow("written in place") << false << true;
    QTest::newRow("a stub behind a link, renamed over") << true << false;
}

void TestProgram::rewriteByAnotherProgramIsUndone()
{
    QFETCH(bool, stub);
    QFETCH(bool, inPlace);
    const QString target = stub ? folder->filePath("stub-resolv.conf") : resolvConfPath;
    if (stub)
        QVERIFY(QFile::rename(resolvConfPath, target) && QFile::link(target, resolvConfPath));
    QVERIFY(serve());
    QByteArray theirs;
    for (const QByteArray server : {"127.0.0.2", "127.0.0.3"}) {
        theirs = "# by another program\nnameserver 127.0.0.2\nnameserver " + server + "\noptions timeout:1\n";
        if (inPlace)
            QVERIFY(writeWholeFile(target, theirs));
        else
            QVERIFY(writeWholeFile(target + ".new", theirs) &&
                    ::rename(qPrintable(target + ".new"), qPrintable(target)) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            readWholeFile(resolvConfPath).startsWith("# by another program\nnameserver 127.0.0.1\n"), 2000);
        QCOMPARE(outcome({"getent", "ahosts", "a.blocked.test"}), "0.0.0.0");
    }
    QVERIFY(program->stop(SIGTERM));
    QCOMPARE(readWholeFile(resolvConfPath), theirs);
    QCOMPARE(QFileInfo(resolvConfPath).isSymLink(), stub);
}

void TestProgram::failedBindIsReported()
{
    QUdpSocket taken;
    QVERIFY2(taken.bind(QHostAddress::LocalHost, 53, QAbstractSocket::DontShareAddress),
             qPrintable(taken.errorString()));
    QVERIFY(program->start());
    QCOMPARE(readWholeFile(resolvConfPath), resolvConf); // not pointed at what else listens there
    QVERIFY(program->stop(SIGTERM));
    const QString log = program->logText();
    QVERIFY2(log.contains(QLatin1String(" : Can't listen on 127.0.0.1:53")), qPrintable(log));
    QVERIFY2(!log.contains(QLatin1String("Server started!")), qPrintable(log));
}

// Lists left to the server: /etc/hosts keeps its lines launch after launch and the server answers
// the lists' names, the first list first; with the server off they go into /etc/hosts, said in the log.
void TestProgram::listsServedByTheServer_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("inHostsFile");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("both"); // the addresses of a name of both lists
    QTest::newRow("served") << "Wildcard" << false << " : \"a.hosts, b.hosts\" served by the DNS server"
                            << "0.0.0.0";
    // The files backend gives every line of a name.
    QTest::newRow("server off") << "Off" << true << " : The DNS server is off: "
                                << "0.0.0.0 192.0.2.9";
}

void TestProgram::listsServedByTheServer()
{
    QFETCH(QString, server);
    QFETCH(bool, inHostsFile);
    QFETCH(QString, line);
    QFETCH(QString, both);
    const QByteArray machine = readWholeFile(QStringLiteral("/etc/hosts"));
    const auto restore = qScopeGuard([&] { writeWholeFile(QStringLiteral("/etc/hosts"), machine); });
    const QString settings = folder->filePath(QStringLiteral("settings"));
    QVERIFY(createSettingsWithoutLists(settings));
    QCOMPARE(runSql(settings, {"update General set Value='DNS server' where Key='Lists'",
                               "update General set Value='" + server + "' where Key='Server'",
                               "insert into Hosts values ('default.hosts', 1, 'file:///etc/hosts', '', 0), "
                               "('a.hosts', 1, '', '', -1), ('b.hosts', 1, '', '', -1)"}),
             QString());
    QVERIFY(QDir(folder->path()).mkpath(QStringLiteral("hosts")));
    QVERIFY(
        writeWholeFile(folder->filePath(QStringLiteral("hosts/a.hosts")), "0.0.0.0 ads.a.test both.test\n"));
    QVERIFY(writeWholeFile(folder->filePath(QStringLiteral("hosts/b.hosts")),
                           "192.0.2.9 both.test\n192.0.2.9 only.b.test # its own\n"));
    for (int launch = 0; launch < 2; ++launch) {
        QVERIFY(program->start());
        if (!inHostsFile)
            QCOMPARE(DnsTestClient().askUntilServed("only.b.test", 53, 10000), QStringLiteral("192.0.2.9"));
        QCOMPARE(outcome({"getent", "ahosts", "both.test"}), both);
        QCOMPARE(outcome({"getent", "ahosts", "only.b.test"}), QStringLiteral("192.0.2.9"));
        const QByteArray hosts = readWholeFile(QStringLiteral("/etc/hosts"));
        QCOMPARE(hosts.contains("both.test"), inHostsFile);
        QVERIFY(inHostsFile || hosts == machine);
        QVERIFY(program->stop(SIGTERM));
        if (launch == 0)
            QVERIFY2(program->logText().contains(line), qPrintable(program->logText()));
    }
}

// Root runs the program elevated for the desktop user 4242, or that user runs it; a second start by
// either hands over, one by another local user (4343) is refused and starts nothing.
void TestProgram::secondStartHandsOver_data()
{
    QTest::addColumn<uint>("first");
    QTest::addColumn<uint>("second");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("root, then root") << 0u << 0u << 0;
    QTest::newRow("root, then the desktop user") << 0u << 4242u << 0;
    QTest::newRow("the desktop user, then root") << 4242u << 0u << 0;
    QTest::newRow("root, then another user") << 0u << 4343u << 1;
}

void TestProgram::secondStartHandsOver()
{
    QFETCH(uint, first);
    QFETCH(uint, second);
    QFETCH(int, exitCode);
    qputenv("PKEXEC_UID", "4242");
    if (first == 0)
        QVERIFY(serve());
    else
        QVERIFY(program->start(first));
    // Nothing of its own: no file made, read or written (but the first copy's growing log).
    const auto contents = [&] {
        QMap<QString, QByteArray> files;
        for (QDirIterator it(folder->path(), QDir::Files | QDir::System, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next(); // the log's file appears when its writer first takes lines
            if (!path.endsWith(".unfinished"))
                files[path] = readWholeFile(path);
        }
        return files;
    };
    const auto before = contents();
    QCOMPARE(program->runAgain(second == 0 ? std::nullopt : std::optional<uint>(second)), exitCode);
    QCOMPARE(contents(), before);
    if (first == 0) // the first still serves, and still gives the name servers back as it ends
        QCOMPARE(DnsTestClient().askUntilServed("www.blocked.test", 53, 5000), QStringLiteral("0.0.0.0"));
    QVERIFY(program->stop(SIGTERM));
    QCOMPARE(readWholeFile(resolvConfPath), resolvConf);
}

// Started in the tray on an X display, the program brings its window up when started again.
void TestProgram::secondStartShowsTheWindow()
{
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    QVERIFY(xvfb.waitForReadyRead(10000));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    const QString display = ':' + xvfb.readAll().trimmed();
    environment.insert("DISPLAY", display);
    program->process().setProcessEnvironment(environment);
    program->process().start(folder->filePath("tarnowlock"), {"-silent"});
    const auto window = [&] {
        return run({"env", "DISPLAY=" + display, "sh", "-c",
                    "xwininfo -id $(xwininfo -root -tree | awk '/- Tarnowlock/ {print $1}')"});
    };
    // A sanitized start on a busy machine is slow; a failure shows the display's windows and the output.
    if (!QTest::qWaitFor([&] { return window().contains("Map State: IsUnMapped"); }, 60000)) {
        qWarning().noquote() << run({"env", "DISPLAY=" + display, "xwininfo", "-root", "-tree"})
                             << program->process().readAllStandardOutput()
                             << program->process().readAllStandardError();
        QFAIL("no hidden window of the program");
    }
    QCOMPARE(program->runAgain(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(window().contains("Map State: IsViewable"), 5000);
    QVERIFY(program->stop(SIGTERM));
}

// Another local user (65534) holds the public instance name and the lock on the folder before any
// start: they stop neither a start, nor the hand-over to it (also after a kill left the folder's
// socket behind), nor the roll back. A roll back without rights keeps its record for one with them.
void TestProgram::squatterStopsNothing()
{
    QProcess squatter;
    squatter.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                               "import fcntl, hashlib, os, socket, sys, time\n"
                               "fcntl.flock(os.open(sys.argv[1], os.O_RDONLY), fcntl.LOCK_EX)\n"
                               "key = hashlib.sha1(os.path.realpath(sys.argv[1]).encode()).hexdigest()[:16]\n"
                               "s = socket.socket(socket.AF_UNIX)\n"
                               "s.bind(b'\\0tarnowlock-' + key.encode())\n"
                               "s.listen()\n"
                               "print('bound', flush=True)\n"
                               "time.sleep(300)",
                               folder->path()});
    QVERIFY(squatter.waitForReadyRead(10000));
    qputenv("PKEXEC_UID", "4242");
    for (int run = 0; run < 2; ++run) {
        program = std::make_unique<ProgramUnderTest>(folder->path());
        QVERIFY(serve());
        QCOMPARE(program->runAgain(4242), 0);
        QVERIFY(program->stop(SIGKILL));
    }
    const QByteArray record = readWholeFile(folder->filePath("DNS"));
    QCOMPARE(program->runAgain(4242, {"--roll-back-dns"}), 1);
    QCOMPARE(readWholeFile(folder->filePath("DNS")), record);
    QVERIFY(readWholeFile(resolvConfPath) != resolvConf);
    QCOMPARE(program->runAgain(std::nullopt, {"--roll-back-dns"}), 0);
    QCOMPARE(readWholeFile(resolvConfPath), resolvConf);
    QVERIFY(!QFile::exists(folder->filePath("DNS")));
    squatter.kill();
    squatter.waitForFinished();
}

// The installed copy started by the desktop user, beside a state folder of root's. One it cannot
// enter: neither a start nor a roll back reads or writes anything anywhere. One it can only read:
// the copy runs, to be found on the public name alone.
void TestProgram::installedCopyOfTheUser_data()
{
    QTest::addColumn<int>("stateMode");
    QTest::addColumn<uint>("user");
    QTest::newRow("a folder it cannot enter") << 0700 << 4242u;
    QTest::newRow("a folder it cannot write") << 0755 << 4242u;
    QTest::newRow("root's copy, its log folder gone") << 0755 << 0u;
}

void TestProgram::installedCopyOfTheUser()
{
    QFETCH(int, stateMode);
    QFETCH(uint, user);
    // A /usr/local of this test's own, where the executable is the installed copy.
    const QString prefix = QStringLiteral(TARNOWLOCK_INSTALL_PREFIX);
    QVERIFY2(prefix != "/usr" && prefix != "/", "the suite needs a build installing elsewhere than /usr");
    QCOMPARE(QProcess::execute("mount", {"-t", "tmpfs", "tmpfs", prefix}), 0);
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"--lazy", prefix}); });
    const QString state = QStringLiteral(TARNOWLOCK_STATE_DIR);
    const QString bin = QFileInfo(QStringLiteral(TARNOWLOCK_INSTALLED_EXECUTABLE)).path();
    QVERIFY(QDir().mkpath(state) && QDir().mkpath(bin) &&
            QProcess::execute("chmod", {"-R", "0755", prefix}) == 0 &&
            ::chmod(qPrintable(state), mode_t(stateMode)) == 0);
    ProgramUnderTest installed(bin, state);
    qputenv("PKEXEC_UID", "4242");
    if (user == 0) { // made again, where the run's log goes
        QVERIFY(QDir(state).rmdir("log") && installed.start());
        QVERIFY(installed.stop(SIGTERM));
        QVERIFY(installed.logText().contains(" : Tarnowlock launched!\n"));
        return;
    }
    if (stateMode == 0755) {
        QVERIFY(installed.start(4242)); // ready: it answers on the public name
        QVERIFY(installed.stop(SIGTERM));
        return;
    }
    QCOMPARE(installed.runAgain(4242), 1);
    QCOMPARE(installed.runAgain(4242, {"--roll-back-dns"}), 1);
    QCOMPARE(QDir(bin).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"tarnowlock"});
    QCOMPARE(QDir(state).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"log"});
}

// SIGTERM while the box of a settings file that cannot be created holds the start: the box closes,
// and the program ends as Quit ends it.
void TestProgram::terminationEndsAStartUpBox()
{
    QVERIFY(QFile::link("/proc/no-settings-here", folder->filePath("settings")));
    QVERIFY(program->start()); // the box's loop acknowledges
    QVERIFY(program->stop(SIGTERM));
    QCOMPARE(program->process().exitCode(), 0);
    QCOMPARE(readWholeFile(resolvConfPath), resolvConf);
    QVERIFY(program->logText().contains(QLatin1String(" : DNS rolled back!\n")));
}

// Under a /proc that hides other users' processes, a pkexec that has become root counts as the
// elevated copy, not as a declined prompt.
void TestProgram::elevationSeenUnderHiddenProc()
{
    QCOMPARE(QProcess::execute("mount", {"-t", "proc", "-o", "hidepid=2,gid=4343", "proc", "/proc"}), 0);
    const auto unmount = qScopeGuard([] { QProcess::execute("umount", {"/proc"}); });
    const QString setuidRoot = folder->filePath("setpriv");
    QVERIFY(QFile::copy("/usr/bin/setpriv", setuidRoot) && ::chmod(qPrintable(setuidRoot), 04755) == 0);
    LinuxPaths paths;
    paths.pkexec = folder->filePath("pkexec");
    // pkexec asks as the user, then runs the program as root in the same process.
    QVERIFY(writeWholeFile(paths.pkexec, "#!/bin/bash\nsleep 0.5\nexec " + setuidRoot.toUtf8() +
                                             " --reuid=0 --regid=0 --clear-groups -- "
                                             "bash -c 'exec -a \"$0\" sleep 5' \"${@: -1}\"\n"));
    QVERIFY(::chmod(qPrintable(paths.pkexec), 0755) == 0);
    std::optional<bool> started;
    QVERIFY(::setresuid(4242, 4242, 0) == 0);
    LinuxPlatform(paths).startElevated(folder->filePath("tarnowlock"),
                                       [&](bool result) { started = result; });
    const bool answered = QTest::qWaitFor([&] { return started.has_value(); }, 10000);
    QVERIFY(::setresuid(0, 0, 0) == 0);
    QVERIFY(answered && *started);
}

TARNOWLOCK_SANDBOXED_TEST_MAIN(TestProgram)
#include "tst_program.moc"
