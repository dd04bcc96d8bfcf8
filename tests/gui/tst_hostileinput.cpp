// Hostile input, row by row: what arrives (a datagram, a hosts file, a settings file, a roll-back
// file, a downloaded list), what the program must do with it (a reply, a dropped datagram, a log line), and
// that it keeps serving afterwards. The server is real: a QUdpSocket on a free loopback port.
#include "app/MainWindow.h"
#include "dns/UI_ServerPanel.h"
#include "log/UI_LogPanel.h"
#include "options/ListDownload.h"
#include "platform/LinuxPlatform.h"
#include "tests/support/DnsTestClient.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/LogText.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/SqlFile.h"
#include "tests/support/StreamingHttpServer.h"
#include "tests/support/WholeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>

Q_DECLARE_METATYPE(UpdateOutcome)

namespace {

// Port 0: the server binds any free loopback port, never the machine's 53.
constexpr quint16 anyPort = 0;
// "Answered within a bounded time": generous, so that only a stall fails it.
constexpr int answerBoundMs = 2000;
// How long a reply that should come may take before the row fails.
constexpr int replyWaitMs = 10000;

// Under AddressSanitizer every reallocation copies, so reading one 50 MB line takes minutes: the
// sanitizer run takes the huge files at a tenth of their size, the ordinary run at their full size.
#ifdef __SANITIZE_ADDRESS__
constexpr qint64 hugeScale = 10;
#else
constexpr qint64 hugeScale = 1;
#endif

// The first rule is the probe's, one pattern in both syntaxes.
const QByteArray rulesText = "192.0.2.6 probe.test *\n"
                             "192.0.2.7 *.blocked.test\n"
                             "192.0.2.8 a*\n"
                             "2001:db8::5 *.six.test\n";

const QByteArray typeAClassIn = dnsWords({1, 1});

// A valid A query of the test's own, answered by the first rule of rulesText in either syntax.
const QByteArray probe = dnsQuery(0xBEEF, wireName("probe.test"));
const QString probeAnswer = QStringLiteral("192.0.2.6");

// Resident memory of this process in kB: now (VmRSS:) or at its peak since resetPeakMemory() (VmHWM:).
qint64 memoryKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

bool resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

// What a download row's server sends as the body: the route's body, or streamed that many bytes of it.
QByteArray bodyHash(const QByteArray &body, qint64 streamed)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (streamed == 0)
        hash.addData(body);
    constexpr qint64 piece = 1 << 20;
    for (qint64 at = 0; at < streamed; at += piece)
        hash.addData(StreamingHttpServer::body(body, at, qMin(piece, streamed - at)));
    return hash.result();
}

bool answersProbe(DnsTestClient &client, quint16 port)
{
    return client.ask(probe, port, replyWaitMs) == probeAnswer;
}

// Sends `datagram`, then the probe; true when the probe is answered. What came before the probe's
// reply is the reply to `datagram`, since loopback keeps the order.
bool sendThenProbe(DnsTestClient &client, const QByteArray &datagram, quint16 port, QList<QByteArray> &before)
{
    client.replies.clear();
    client.send(datagram, port);
    if (!answersProbe(client, port))
        return false;
    before = client.replies.mid(0, client.replies.size() - 1);
    return true;
}

// Writes `head`, `count` times `unit`, then `tail`, a megabyte at a time.
bool writeGenerated(const QString &path, const QByteArray &head, const QByteArray &unit, qint64 count,
                    const QByteArray &tail)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(head) != head.size())
        return false;
    if (count > 0) {
        const qint64 perChunk = qMax<qint64>(1, (1 << 20) / qMax<qsizetype>(1, unit.size()));
        const QByteArray chunk = unit.repeated(perChunk);
        for (qint64 done = 0; done < count; done += perChunk) {
            const QByteArray part = count - done >= perChunk ? chunk : unit.repeated(count - done);
            if (file.write(part) != part.size())
                return false;
        }
    }
    return file.write(tail) == tail.size();
}

// "0.0.0.0 *.ad<n>.example" lines, n counting up from 0.
QByteArray numberedWildcardLines(int count)
{
    QByteArray text;
    text.reserve(qsizetype(count) * 28);
    for (int n = 0; n < count; ++n)
        text.append("0.0.0.0 *.ad").append(QByteArray::number(n)).append(".example\n");
    return text;
}

// Log lines as RecordingLog keeps them.
QString droppedLine(int size)
{
    return QStringLiteral("3 (detailed) Dropped a datagram of %1 bytes from 127.0.0.1: too short for a DNS "
                          "query")
        .arg(size);
}
const QString neverMatchesOne =
    QStringLiteral("3 1 rule(s) will never match: pattern too long or too complex to match in bounded time");

} // namespace

class TestHostileInput : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void datagrams_data();
    void datagrams();
    void randomDatagrams_data();
    void randomDatagrams();
    void hostsFiles_data();
    void hostsFiles();
    void editedPatterns_data();
    void editedPatterns();
    void settingsFiles_data();
    void settingsFiles();
    void rollBackFiles_data();
    void rollBackFiles();
    void hostsFileChangedUnderTheServer_data();
    void hostsFileChangedUnderTheServer();
    void downloads_data();
    void downloads();

private:
    void startServer(const QString &mode);
    quint16 port() const { return panel->serverSocket()->localPort(); }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FakePlatform> platform;
    std::unique_ptr<RecordingLog> log;
    std::unique_ptr<UI_ServerPanel> panel;
};

void TestHostileInput::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    platform = std::make_unique<FakePlatform>();
    platform->hostsFile = dir->filePath(QStringLiteral("hosts"));
    QVERIFY(writeWholeFile(platform->hostsFile, rulesText));
    log = std::make_unique<RecordingLog>();
    panel = std::make_unique<UI_ServerPanel>(*log, *platform, nullptr, anyPort,
                                             dir->filePath(QStringLiteral("DNS")));
}

void TestHostileInput::cleanup()
{
    panel.reset();
    log.reset();
    platform.reset();
    dir.reset();
}

void TestHostileInput::downloads_data()
{
    QTest::addColumn<HttpTestServer::Route>("route");
    QTest::addColumn<qint64>("streamed"); // above 0: that many bytes of the body, repeated, at full speed
    QTest::addColumn<bool>("cancel");     // by the user, once the request is under way
    QTest::addColumn<UpdateOutcome>("outcome");
    QTest::addColumn<bool>("listReplaced"); // else the old list stays

    HttpTestServer::Route route;
    QTest::newRow("empty body") << route << qint64(0) << false << UpdateOutcome::Updated << true;
    route.body = QByteArray("0.0.0.0 a.example\n\0\0\x01 b.example\0\n", 31);
    QTest::newRow("NUL bytes kept as they are")
        << route << qint64(0) << false << UpdateOutcome::Updated << true;
    // From a thread of its own, so that the server outruns the disk if the download lets it.
    route.body = "0.0.0.0 ads.example\n";
    QTest::newRow("200 MB body") << route << 200ll * 1024 * 1024 / hugeScale << false
                                 << UpdateOutcome::Updated << true;
    route.body = "0.0.0.0 never.example\n";
    route.held = true;
    QTest::newRow("server that never answers, cancelled")
        << route << qint64(0) << true << UpdateOutcome::Canceled << false;
}

void TestHostileInput::downloads()
{
    QFETCH(HttpTestServer::Route, route);
    QFETCH(qint64, streamed);
    QFETCH(bool, cancel);
    QFETCH(UpdateOutcome, outcome);
    QFETCH(bool, listReplaced);

    const QByteArray oldList("127.0.0.1 old.example\n");
    // A folder of lists beside the system hosts file of the test (named "hosts").
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("lists")));
    const QString target = dir->filePath(QStringLiteral("lists/list.hosts"));
    QVERIFY(writeWholeFile(target, oldList));
    HttpTestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    server.setRoute(QStringLiteral("/list"), route);
    const StreamingHttpServer stream(route.body, streamed);
    QVERIFY(stream.isListening());
    const QUrl source = streamed > 0 ? stream.url() : server.url(QStringLiteral("/list"));

    QVERIFY(resetPeakMemory());
    const qint64 before = memoryKb("VmRSS:");
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(listRequest(source, listTransferTimeoutMs));
    auto *download = new ListDownload(reply, target);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (cancel) {
        QTRY_COMPARE(server.heldCount(), 1);
        download->cancel();
    }
    QVERIFY(!finished.isEmpty() || finished.wait(60000));
    QCOMPARE(download->finish(), outcome);
    const qint64 peakGrowthKb = memoryKb("VmHWM:") - before;

    QCOMPARE(fileHash(target), listReplaced ? bodyHash(route.body, streamed)
                                            : QCryptographicHash::hash(oldList, QCryptographicHash::Sha256));
    QCOMPARE(QDir(dir->filePath(QStringLiteral("lists"))).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("list.hosts")});
    // Not even once in memory: the body goes to the disk as it arrives. Freed buffers stay in the
    // address sanitizer's quarantine, which would count here.
#ifndef __SANITIZE_ADDRESS__
    QVERIFY2(peakGrowthKb < 20 * 1024,
             qPrintable(QStringLiteral("%1 kB more at the peak").arg(peakGrowthKb)));
#else
    Q_UNUSED(peakGrowthKb)
#endif
    // And the server still answers.
    startServer(QStringLiteral("Wildcard"));
    DnsTestClient client;
    QVERIFY(answersProbe(client, port()));
}

void TestHostileInput::startServer(const QString &mode)
{
    panel->setStatus(mode);
    QVERIFY2(panel->serverSocket()->state() == QAbstractSocket::BoundState,
             qPrintable(panel->serverSocket()->errorString()));
}

void TestHostileInput::datagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("outcome"); // "drop", "formerr", "servfail", "nodata" or the address
    // A line the log must hold, or its beginning when it ends in a blank; empty for none in particular.
    QTest::addColumn<QString>("logLine");

    const QByteArray valid = dnsQuery(0x1234, wireName("www.blocked.test"));
    QTest::newRow("valid query") << valid << "192.0.2.7"
                                 << "4 Question for www.blocked.test";
    QTest::newRow("empty") << QByteArray() << "drop" << droppedLine(0);
    for (int size = 1; size < 12; ++size)
        QTest::addRow("%d bytes", size) << valid.left(size) << "drop" << droppedLine(size);
    for (int size = 12; size < valid.size(); ++size)
        QTest::addRow("valid query cut to %d bytes", size) << valid.left(size) << "formerr"
                                                           << "4 (detailed) Question for ";

    // One label of every length from 64 up: a plain count, so a name of all "a" that fits the
    // 255 octets of a name is answered by "a*"; longer ones are format errors.
    for (int length = 64; length <= 255; ++length) {
        const QByteArray name = char(length) + QByteArray(length, 'a') + '\0';
        QTest::addRow("label of %d bytes", length)
            << dnsHeader(0x4000 + length, recursionDesired, 1) + name + typeAClassIn
            << (length + 2 <= 255 ? "192.0.2.8" : "formerr") << QString();
    }
    QTest::newRow("label length past the end")
        << dnsHeader(0x2001, recursionDesired, 1) + '\x64' + QByteArray("abc") << "formerr" << QString();
    QTest::newRow("name of 255 octets in 63-byte labels")
        << dnsQuery(0x2002, wireName(QByteArray(63, 'a') + '.' + QByteArray(63, 'a') + '.' +
                                     QByteArray(63, 'a') + '.' + QByteArray(61, 'a')))
        << "192.0.2.8" << QString();
    QTest::newRow("name of 256 octets in 63-byte labels")
        << dnsQuery(0x2003, wireName(QByteArray(63, 'a') + '.' + QByteArray(63, 'a') + '.' +
                                     QByteArray(63, 'a') + '.' + QByteArray(62, 'a')))
        << "formerr" << QString();

    // Compression pointers are not recognised: their first byte is a plain count of 192 to 255.
    for (int first : {0xC0, 0xC1, 0xE0, 0xFF})
        QTest::addRow("pointer 0x%02X0C to the header", first)
            << dnsHeader(0x2100 + first, recursionDesired, 1) + char(first) + "\x0c" + typeAClassIn
            << "formerr" << QString();
    QTest::newRow("pointer to itself, in a long datagram")
        << dnsHeader(0x2200, recursionDesired, 1) + "\xc0\x0c" + QByteArray(400, 'a') << "formerr"
        << QString();
    QTest::newRow("pointer byte read as a 192-byte label")
        << dnsHeader(0x2201, recursionDesired, 1) + '\xc0' + QByteArray(192, 'a') + '\0' + typeAClassIn
        << "192.0.2.8" << QString();

    // The largest datagrams UDP carries.
    QTest::newRow("65507 bytes: a query and trailing bytes")
        << valid + QByteArray(65507 - valid.size(), '\x5a') << "192.0.2.7" << QString();
    QByteArray longName = dnsHeader(0x2300, recursionDesired, 1);
    while (longName.size() + 64 <= 65507)
        longName += '\x3f' + QByteArray(63, 'a');
    QTest::newRow("65507 bytes: one name of 63-byte labels")
        << longName + QByteArray(65507 - longName.size(), '\0') << "formerr" << QString();
    QTest::newRow("65507 zero bytes: the root name, no rule") << QByteArray(65507, '\0') << "servfail"
                                                              << "4 (detailed) Question for ";
    QTest::newRow("65507 bytes of 0xFF") << QByteArray(65507, '\xff') << "formerr" << QString();

    // Counts.
    QTest::newRow("QDCOUNT 65535 with one question")
        << dnsHeader(0x2400, recursionDesired, 0xFFFF) + wireName("www.blocked.test") + typeAClassIn
        << "formerr" << QString();
    QTest::newRow("QDCOUNT 0 with a question")
        << dnsHeader(0x2401, recursionDesired, 0) + wireName("www.blocked.test") + typeAClassIn << "192.0.2.7"
        << QString();
    QTest::newRow("every other count 65535")
        << dnsHeader(0x2402, recursionDesired, 1, 0xFFFF, 0xFFFF, 0xFFFF) + wireName("www.blocked.test") +
               typeAClassIn
        << "192.0.2.7" << QString();
    QTest::newRow("a response, opcode 15, all flags")
        << dnsHeader(0x2403, 0xFFFF, 1) + wireName("www.blocked.test") + typeAClassIn << "192.0.2.7"
        << QString();

    // Bytes a name should not hold: looked up as they are, logged escaped.
    QTest::newRow("NUL byte in a label")
        << dnsQuery(0x2500, wireName(QByteArray("a\0b.test", 8))) << "192.0.2.8"
        << "4 Question for a\\x00b.test";
    QTest::newRow("line feed in a label, no rule") << dnsQuery(0x2501, wireName("x\ny.test")) << "servfail"
                                                   << "4 (detailed) Question for x\\x0ay.test";
    QTest::newRow("bytes above 0x7F, no rule")
        << dnsQuery(0x2502, wireName("\xe9\xff.test")) << "servfail"
        << QString::fromLatin1("4 (detailed) Question for \xe9\xff.test");
    QTest::newRow("AAAA of an IPv6 rule")
        << dnsQuery(0x2503, wireName("x.six.test"), 28) << "2001:db8::5" << QString();
    QTest::newRow("MX of an IPv4 rule: no data")
        << dnsQuery(0x2504, wireName("www.blocked.test"), 15) << "nodata" << QString();
}

void TestHostileInput::datagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, outcome);
    QFETCH(QString, logLine);

    startServer(QStringLiteral("Wildcard"));
    DnsTestClient client;
    QList<QByteArray> replies;
    QVERIFY2(sendThenProbe(client, datagram, port(), replies),
             "the server must answer a valid query after it");
    if (outcome == QLatin1String("drop")) {
        QCOMPARE(replies.size(), 0);
    } else {
        QCOMPARE(replies.size(), 1);
        QCOMPARE(dnsOutcome(replies.first(), datagram), outcome);
    }
    if (!logLine.isEmpty()) {
        const bool found = logLine.endsWith(QLatin1Char(' '))
                               ? std::any_of(log->lines.cbegin(), log->lines.cend(),
                                             [&](const QString &line) { return line.startsWith(logLine); })
                               : log->lines.contains(logLine);
        QVERIFY2(found, qPrintable(log->lines.join(QLatin1Char('\n'))));
    }
}

void TestHostileInput::randomDatagrams_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("mutated"); // random changes of a valid query, or bytes at random
    QTest::addColumn<int>("count");
    QTest::newRow("random bytes, seed 20240611") << "Regular Expression" << 20240611u << false << 60000;
    QTest::newRow("mutated queries, seed 7") << "Wildcard" << 7u << true << 60000;
}

void TestHostileInput::randomDatagrams()
{
    QFETCH(QString, mode);
    QFETCH(quint32, seed);
    QFETCH(bool, mutated);
    QFETCH(int, count);

    startServer(mode);
    QRandomGenerator random(seed);
    const QByteArray base = dnsQuery(0, wireName("www.blocked.test"));
    DnsTestClient client;
    // A window small enough for the socket buffers: nothing is lost, so every datagram of 12 bytes
    // or more must get its reply, in order.
    constexpr int window = 32;
    int sent = 0;
    int replied = 0;
    int answered = 0;
    while (sent < count) {
        QList<QByteArray> expecting;
        for (int i = 0; i < window && sent < count; ++i, ++sent) {
            QByteArray datagram;
            if (mutated) {
                datagram = base;
                for (int changes = random.bounded(1, 6); changes > 0; --changes)
                    datagram[random.bounded(int(datagram.size()))] = char(random.bounded(256));
                datagram.truncate(random.bounded(int(datagram.size()) + 1));
            } else {
                const int size = random.bounded(0, 600);
                datagram.resize(size + 3);
                random.fillRange(reinterpret_cast<quint32 *>(datagram.data()), datagram.size() / 4);
                datagram.truncate(size);
            }
            if (datagram.size() >= 12)
                expecting << datagram;
            client.send(datagram, port());
        }
        client.replies.clear();
        QVERIFY2(client.waitForReplies(int(expecting.size()), replyWaitMs),
                 qPrintable(QStringLiteral("%1 of %2 replies after datagram %3")
                                .arg(client.replies.size())
                                .arg(expecting.size())
                                .arg(sent)));
        QCOMPARE(client.replies.size(), expecting.size());
        for (int i = 0; i < expecting.size(); ++i) {
            const QString outcome = dnsOutcome(client.replies.at(i), expecting.at(i));
            QVERIFY2(
                !outcome.startsWith(QLatin1String("malformed")),
                qPrintable(outcome + QStringLiteral(" for ") + QString::fromLatin1(expecting.at(i).toHex())));
            answered += outcome.contains(QLatin1Char('.')) || outcome.contains(QLatin1Char(':')) ? 1 : 0;
        }
        replied += int(expecting.size());
    }
    QVERIFY(replied > count / 2);
    if (mutated)
        QVERIFY(answered > 0);
    QVERIFY2(answersProbe(client, port()), "the server must answer a valid query after them");
}

void TestHostileInput::hostsFiles_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("unit"); // repeated `count` times after the head
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<int>("rules");
    QTest::addColumn<QByteArray>("name"); // asked once the server runs
    QTest::addColumn<QString>("outcome"); // as for datagrams
    QTest::addColumn<QString>("logLine"); // a line the log must hold; empty for none in particular

    const QByteArray after = "192.0.2.1 *.after.test\n";
    const QString wildcard = QStringLiteral("Wildcard");
    const QString regExp = QStringLiteral("Regular Expression");

    QTest::newRow("NUL bytes in a line")
        << wildcard << QByteArray("0.0.0.0 *.nul\0led.test\n", 23) << QByteArray() << qint64(0) << after << 2
        << QByteArray("x.after.test") << "192.0.2.1" << QString();
    QTest::newRow("a line of NUL bytes")
        << wildcard << QByteArray() << QByteArray(1, '\0') << qint64(4096) << "\n" + after << 1
        << QByteArray("x.after.test") << "192.0.2.1" << QString();
    QTest::newRow("invalid UTF-8") << wildcard << QByteArray("0.0.0.0 *.\xff\xfe\xc3(.test \xe2\x82\n")
                                   << QByteArray() << qint64(0) << after << 2 << QByteArray("x.after.test")
                                   << "192.0.2.1" << QString();
    QTest::newRow("CRLF line ends") << wildcard << QByteArray("192.0.2.2 *.crlf.test\r\n") << QByteArray()
                                    << qint64(0) << QByteArray("192.0.2.1 *.after.test\r\n") << 2
                                    << QByteArray("x.after.test") << "192.0.2.1" << QString();
    // A lone CR ends no line, for the system's resolver as for the server: one line, one rule.
    QTest::newRow("CR line ends: one line")
        << wildcard << QByteArray("192.0.2.2 *.cr.test\r") << QByteArray() << qint64(0)
        << QByteArray("192.0.2.1 *.after.test\r") << 1 << QByteArray("x.cr.test") << "192.0.2.2" << QString();
    QTest::addRow("%lld MB line without a blank", 50 / hugeScale)
        << wildcard << QByteArray("*") << QByteArray("a") << 50'000'000 / hugeScale << "\n" + after << 1
        << QByteArray("x.after.test") << "192.0.2.1" << QString();
    QTest::addRow("%lld MB line: one pattern of that size", 50 / hugeScale)
        << wildcard << QByteArray("0.0.0.0 *") << QByteArray("a") << 50'000'000 / hugeScale << "\n" + after
        << 2 << QByteArray("x.after.test") << "192.0.2.1" << neverMatchesOne;
    QTest::addRow("%lld MB line: one pattern of %lld million stars", 50 / hugeScale, 25 / hugeScale)
        << wildcard << QByteArray("0.0.0.0 ") << QByteArray("*a") << 25'000'000 / hugeScale << "\n" + after
        << 2 << QByteArray("aaaa.after.test") << "192.0.2.1" << neverMatchesOne;
    QTest::addRow("%lld MB file of plain lines", 100 / hugeScale)
        << wildcard << QByteArray() << QByteArray("0.0.0.0 ads.tracker.example.com\n")
        << 3'200'000 / hugeScale << after << 1 << QByteArray("x.after.test") << "192.0.2.1" << QString();
    QTest::newRow("1,000,000 wildcard lines: the last one")
        << wildcard << numberedWildcardLines(1'000'000) << QByteArray() << qint64(0) << after << 1'000'001
        << QByteArray("x.ad999999.example") << "0.0.0.0" << QString();
    QTest::newRow("1,000,000 wildcard lines: no rule")
        << wildcard << numberedWildcardLines(1'000'000) << QByteArray() << qint64(0) << after << 1'000'001
        << QByteArray("x.ad1000000.example") << "servfail" << QString();

    // Regular expressions: QRegExp does not backtrack, so "(a+)+$" is cheap; what costs is the size
    // of its automaton. Such patterns never match, and the log says so.
    const QByteArray longA(253, 'a');
    const QByteArray longAThenBang = QByteArray(252, 'a') + '!';
    QTest::newRow("(a+)+$ against 253 a")
        << regExp << QByteArray("192.0.2.3 (a+)+$ *\n") << QByteArray() << qint64(0) << QByteArray() << 1
        << longA << "192.0.2.3" << QString();
    QTest::newRow("(a+)+$ against 252 a and !")
        << regExp << QByteArray("192.0.2.3 (a+)+$ *\n") << QByteArray() << qint64(0) << QByteArray() << 1
        << longAThenBang << "servfail" << QString();
    QTest::newRow("(a|a|...)+ of 250 alternatives: never matches")
        << regExp << QByteArray("192.0.2.3 (") << QByteArray("a|") << qint64(249) << QByteArray("a)+$ *\n")
        << 1 << longA << "servfail" << neverMatchesOne;
    QTest::newRow("nested counted repetitions: never compiled")
        << regExp << QByteArray("192.0.2.3 ((a{0,100}){0,100}){0,100}$ *\n") << QByteArray() << qint64(0)
        << QByteArray() << 1 << longA << "servfail" << neverMatchesOne;
    QTest::newRow("back-reference: never matches")
        << regExp << QByteArray("192.0.2.3 (a*)(a*)\\1\\2$ *\n") << QByteArray() << qint64(0) << QByteArray()
        << 1 << longA << "servfail" << neverMatchesOne;
    QTest::newRow("nested look-aheads: never match")
        << regExp << QByteArray("192.0.2.3 (?=.*(?=.*(?=.*a)))a+ *\n") << QByteArray() << qint64(0)
        << QByteArray() << 1 << longA << "servfail" << neverMatchesOne;
    QTest::newRow("a costly pattern first, a cheap one after")
        << regExp << QByteArray("192.0.2.3 (") << QByteArray("a|") << qint64(249)
        << QByteArray("a)+$ *\n192.0.2.4 ^a+$ *\n") << 2 << longA << "192.0.2.4" << neverMatchesOne;
    QTest::newRow("10,000 stars in wildcard mode: never matches")
        << wildcard << QByteArray("192.0.2.3 ") << QByteArray("*") << qint64(10000) << "\n" + after << 2
        << QByteArray("x.after.test") << "192.0.2.1" << neverMatchesOne;
}

void TestHostileInput::hostsFiles()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, unit);
    QFETCH(qint64, count);
    QFETCH(QByteArray, tail);
    QFETCH(int, rules);
    QFETCH(QByteArray, name);
    QFETCH(QString, outcome);
    QFETCH(QString, logLine);

    QVERIFY(writeGenerated(platform->hostsFile, head, unit, count, tail));
    startServer(mode);
    QCOMPARE(panel->hostRules().size(), rules);
    QCOMPARE(panel->ruleTable()->model()->rowCount(), rules);

    DnsTestClient client;
    const QByteArray asked = dnsQuery(0x3000, wireName(name));
    QElapsedTimer clock;
    clock.start();
    client.send(asked, port());
    QVERIFY2(client.waitForReplies(1, replyWaitMs), "no reply");
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(dnsOutcome(client.replies.first(), asked), outcome);
    QVERIFY2(elapsed < answerBoundMs, qPrintable(QStringLiteral("answered after %1 ms").arg(elapsed)));
    if (!logLine.isEmpty())
        QVERIFY2(log->lines.contains(logLine), qPrintable(log->lines.mid(0, 20).join(QLatin1Char('\n'))));
    else
        QVERIFY(!log->lines.contains(neverMatchesOne));
}

void TestHostileInput::editedPatterns_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<bool>("reported"); // the log says the rule will never match

    const QString regExp = QStringLiteral("Regular Expression");
    QString alternatives = QStringLiteral("(a");
    for (int i = 0; i < 249; ++i)
        alternatives += QStringLiteral("|a");
    QTest::newRow("cheap regular expression") << regExp << "^a+$"
                                              << "192.0.2.9" << false;
    QTest::newRow("250 alternatives in a loop")
        << regExp << alternatives + QStringLiteral(")+$") << "servfail" << true;
    QTest::newRow("nested counted repetitions") << regExp << "((a{0,100}){0,100}){0,100}"
                                                << "servfail" << true;
    QTest::newRow("pattern of 5000 characters")
        << QStringLiteral("Wildcard") << QString(5000, QLatin1Char('a')) << "servfail" << true;
}

void TestHostileInput::editedPatterns()
{
    QFETCH(QString, mode);
    QFETCH(QString, pattern);
    QFETCH(QString, outcome);
    QFETCH(bool, reported);

    QVERIFY(writeWholeFile(platform->hostsFile, QByteArray()));
    startServer(mode);
    panel->insNewRule();
    QAbstractItemModel &table = *panel->ruleTable()->model();
    QVERIFY(table.setData(table.index(0, 0), QStringLiteral("192.0.2.9")));
    QVERIFY(table.setData(table.index(0, 1), pattern));
    const QString line =
        QStringLiteral("3 Rule 1 will never match: pattern too long or too complex to match in bounded time");
    QCOMPARE(log->lines.contains(line), reported);

    DnsTestClient client;
    const QByteArray asked = dnsQuery(0x3100, wireName(QByteArray(253, 'a')));
    QElapsedTimer clock;
    clock.start();
    client.send(asked, port());
    QVERIFY2(client.waitForReplies(1, replyWaitMs), "no reply");
    QVERIFY2(clock.elapsed() < answerBoundMs, qPrintable(QStringLiteral("after %1 ms").arg(clock.elapsed())));
    QCOMPARE(dnsOutcome(client.replies.first(), asked), outcome);
}

void TestHostileInput::settingsFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");           // the file as it is, when not built by SQL
    QTest::addColumn<QStringList>("statements");     // else the SQL that builds it
    QTest::addColumn<QList<QVariantList>>("values"); // bound to the statement at the same position
    QTest::addColumn<QString>("logLine");            // a line the log must hold

    const QString damaged =
        QStringLiteral("Settings file 'settings' is damaged; using the built-in defaults");
    const QString general = QStringLiteral("create table General(Key char, Value char)");
    const QString hosts = QStringLiteral(
        "create table Hosts(Name char, Selected int, UpdateUrl char, LastUpdate char, UpdateFrequency int)");
    const QString insertGeneral = QStringLiteral("insert into General values(?, ?)");
    const QString insertHosts = QStringLiteral("insert into Hosts values(?, ?, ?, ?, ?)");
    using Values = QList<QVariantList>;

    QTest::newRow("empty file") << QByteArray() << QStringList() << Values() << damaged;
    QTest::newRow("text, not a database") << QByteArray("Server=Off\nthis is no database\n").repeated(100)
                                          << QStringList() << Values() << damaged;
    QTest::newRow("SQLite header, then garbage")
        << QByteArray("SQLite format 3\0", 16) + QByteArray(8192, '\xa5') << QStringList() << Values()
        << damaged;
    QTest::newRow("wrong column types")
        << QByteArray()
        << QStringList{QStringLiteral("create table General(Key int, Value blob)"),
                       QStringLiteral("create table Hosts(Name int, Selected char, UpdateUrl int, LastUpdate "
                                      "int, UpdateFrequency char)")}
        << Values() << damaged;
    QTest::newRow("right tables, values of wrong types")
        << QByteArray() << QStringList{general, hosts, insertHosts}
        << Values{{}, {}, {7, QStringLiteral("yes"), 3, 4, QStringLiteral("never")}} << damaged;
    QTest::newRow("NULL values") << QByteArray() << QStringList{general, hosts, insertGeneral}
                                 << Values{{}, {}, {QStringLiteral("Server"), QVariant()}} << damaged;
    QTest::newRow("a 10 MB value")
        << QByteArray() << QStringList{general, hosts, insertGeneral}
        << Values{{}, {}, {QStringLiteral("Editor"), QString(10'000'000, QLatin1Char('e'))}} << damaged;
    QTest::newRow("missing table") << QByteArray() << QStringList{general} << Values() << damaged;
}

void TestHostileInput::settingsFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, statements);
    QFETCH(QList<QVariantList>, values);
    QFETCH(QString, logLine);

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    const QString settings = dir->filePath(QStringLiteral("settings"));
    if (statements.isEmpty())
        QVERIFY(writeWholeFile(settings, bytes));
    else
        QCOMPARE(runSql(settings, statements, values), QString());
    const QByteArray before = readWholeFile(settings);

    {
        MainWindow window(1, *platform, nullptr, anyPort);
        const QStringList messages = logMessages(*window.logPanelWidget());
        QVERIFY2(messages.contains(logLine), qPrintable(messages.join(QLatin1Char('\n'))));
        QCOMPARE(messages.last(), QStringLiteral("Tarnowlock launched!"));
        // The built-in defaults: the server runs in wildcard mode and answers.
        UI_ServerPanel &server = *window.serverPanelWidget();
        QCOMPARE(server.serverState(), int(ServerState::Wildcard));
        DnsTestClient client;
        QVERIFY(answersProbe(client, server.serverSocket()->localPort()));
        window.cleanUp();
    }
    QDir::setCurrent(previous);
    QCOMPARE(readWholeFile(settings), before);
}

void TestHostileInput::rollBackFiles_data()
{
    QTest::addColumn<QByteArray>("content");   // "RESOLV" stands for the test's resolv.conf path
    QTest::addColumn<QStringList>("logLines"); // lines the log must hold, in this order

    const QString already = QStringLiteral("2 Primary DNS's already 127.0.0.1");
    const QString rolledBack = QStringLiteral("2 DNS rolled back!");
    const QString damagedLine = QStringLiteral("3 Skipped damaged line %1 of roll-back file 'DNSPATH'");

    QTest::newRow("empty") << QByteArray() << QStringList{already, rolledBack};
    QTest::newRow("a line without a blank")
        << QByteArray("garbage\n") << QStringList{already, damagedLine.arg(1), rolledBack};
    QTest::newRow("a line without its line feed")
        << QByteArray("RESOLV 192.0.2.53") << QStringList{already, damagedLine.arg(1), rolledBack};
    QByteArray garbage(4096, '\0');
    QRandomGenerator random(99);
    for (char &byte : garbage)
        byte = char(random.bounded(256));
    QTest::newRow("binary garbage") << garbage << QStringList{already, rolledBack};
    QTest::newRow("an interface that does not exist")
        << QByteArray("RESOLV.missing 192.0.2.1\n")
        << QStringList{already, QStringLiteral("3 Can't roll back DNS of RESOLV.missing: no such interface"),
                       rolledBack};
    QTest::newRow("a 10 MB line") << "RESOLV " + QByteArray(10'000'000, '9') + "\n"
                                  << QStringList{already, rolledBack};
}

void TestHostileInput::rollBackFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, logLines);

    LinuxPaths paths;
    paths.hostsFile = platform->hostsFile;
    paths.etcDir = dir->path() + QLatin1Char('/');
    paths.resolvConf = dir->filePath(QStringLiteral("resolv.conf"));
    paths.resolvedRunDir = dir->filePath(QStringLiteral("no-resolved"));
    paths.userAutostartDir = dir->filePath(QStringLiteral("autostart"));
    paths.systemAutostartDir = dir->filePath(QStringLiteral("xdg-autostart"));
    LinuxPlatform systemPlatform(paths);
    const QByteArray resolvConf = "# the test's\nnameserver 192.0.2.53\n";
    QVERIFY(writeWholeFile(paths.resolvConf, resolvConf));
    const QString rollBack = dir->filePath(QStringLiteral("DNS"));
    QVERIFY(writeWholeFile(rollBack, content.replace("RESOLV", paths.resolvConf.toUtf8())));

    UI_ServerPanel server(*log, systemPlatform, nullptr, anyPort, rollBack);
    server.setStatus(QStringLiteral("Wildcard"));
    DnsTestClient client;
    QVERIFY2(answersProbe(client, server.serverSocket()->localPort()),
             "the server must answer while the roll-back file is damaged");
    server.Off();

    QStringList expected;
    for (const QString &line : std::as_const(logLines))
        expected << QString(line)
                        .replace(QLatin1String("DNSPATH"), rollBack)
                        .replace(QLatin1String("RESOLV"), paths.resolvConf);
    qsizetype from = 0;
    for (const QString &line : std::as_const(expected)) {
        const qsizetype at = log->lines.indexOf(line, from);
        QVERIFY2(at >= 0, qPrintable(line + QStringLiteral("\n---\n") +
                                     log->lines.join(QLatin1Char('\n')).left(4000)));
        from = at + 1;
    }
    QVERIFY(!QFile::exists(rollBack));
    QCOMPARE(readWholeFile(paths.resolvConf), resolvConf);
    QVERIFY(!QFile::exists(paths.resolvConf + QStringLiteral(".missing")));
}

void TestHostileInput::hostsFileChangedUnderTheServer_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("rulesAfter"); // once reloaded
    QTest::addColumn<QString>("probeAfter");
    QTest::addColumn<bool>("told"); // the reload says that it could not read the file

    QTest::newRow("replaced by a rename") << "replaced" << 2 << "192.0.2.6" << false;
    QTest::newRow("emptied") << "emptied" << 0 << "servfail" << false;
    QTest::newRow("deleted") << "deleted" << 0 << "servfail" << true;
    QTest::newRow("a folder in its place") << "folder" << 0 << "servfail" << true;
    // Opening a pipe without a writer would wait for one, and the server with it.
    QTest::newRow("a named pipe in its place") << "pipe" << 0 << "servfail" << true;
}

void TestHostileInput::hostsFileChangedUnderTheServer()
{
    QFETCH(QString, change);
    QFETCH(int, rulesAfter);
    QFETCH(QString, probeAfter);
    QFETCH(bool, told);

    startServer(QStringLiteral("Wildcard"));
    const QString hosts = platform->hostsFile;
    if (change == QLatin1String("replaced")) {
        const QString fresh = hosts + QStringLiteral(".new");
        QVERIFY(writeWholeFile(fresh, "192.0.2.6 probe.test *\n192.0.2.20 *.new.test\n"));
        QCOMPARE(std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(hosts).constData()), 0);
    } else if (change == QLatin1String("emptied")) {
        QVERIFY(writeWholeFile(hosts, QByteArray()));
    } else {
        QVERIFY(QFile::remove(hosts));
        if (change == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(hosts));
        else if (change == QLatin1String("pipe"))
            QCOMPARE(mkfifo(QFile::encodeName(hosts).constData(), 0644), 0);
    }
    // The rules in memory answer on.
    DnsTestClient client;
    QVERIFY(answersProbe(client, port()));

    panel->loadHosts();
    QCOMPARE(panel->hostRules().size(), rulesAfter);
    const QString line = QStringLiteral("3 Can't read %1! The server has no rules").arg(hosts);
    QCOMPARE(log->lines.contains(line), told);
    QCOMPARE(client.ask(probe, port(), replyWaitMs), probeAfter);
    if (change == QLatin1String("replaced"))
        QCOMPARE(client.ask(dnsQuery(0x3200, wireName("x.new.test")), port(), replyWaitMs),
                 QStringLiteral("192.0.2.20"));
}

QTEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
