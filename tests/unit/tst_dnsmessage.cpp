#include "dns/DnsMessage.h"
#include "dns/HostRule.h"

#include <QtTest>

namespace {

// Bytes from hex text; blanks between the fields are for the reader.
QByteArray hex(const QByteArray &text)
{
    return QByteArray::fromHex(text);
}

HostRules makeRules(const QStringList &lines)
{
    HostRules rules;
    for (const QString &line : lines)
        parseHostsLine(rules, line);
    return rules;
}

const QStringList standardRules = {"127.0.0.1 *.v4.test", "::1 *.v6.test", "invalid *.null.test"};
const QStringList loneStar = {"127.0.0.1 *"};

// Encoded names of the rows.
const QByteArray v4Name = "03777777 027634 0474657374 00";       // www.v4.test
const QByteArray v6Name = "03777777 027636 0474657374 00";       // www.v6.test
const QByteArray nullName = "03777777 046e756c6c 0474657374 00"; // www.null.test
const QByteArray noneName = "03777777 046e6f6e65 0474657374 00"; // www.none.test

// Query header: ID 1234, RD, one question.
const QByteArray queryHeader = "1234 0100 0001 0000 0000 0000 ";
const QByteArray answeredHeader = "1234 8100 0001 0001 0000 0000 ";
const QByteArray noDataHeader = "1234 8100 0001 0000 0000 0000 ";
const QByteArray formatError = "1234 8101 0000 0000 0000 0000";
const QByteArray serverFailure = "1234 8102 0000 0000 0000 0000";

const QByteArray ttl = " 00000e10 ";
const QByteArray v4Data = "0004 7f000001";
const QByteArray v6Data = "0010 00000000000000000000000000000001";
const QByteArray nullData = "0010 00000000000000000000000000000000";

// An A query for www.v4.test with an EDNS OPT record (UDP size 4096), as dig sends it.
const QByteArray ednsQuery =
    "1234 0120 0001 0000 0000 0001 " + v4Name + " 0001 0001 00 0029 1000 00000000 0000";
const QByteArray v4AReply = answeredHeader + v4Name + " 0001 0001 " + v4Name + " 0001 0001" + ttl + v4Data;

} // namespace

class TestDnsMessage : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void reply_data();
    void reply();
    void truncated_data();
    void truncated();
    void encodeName_data();
    void encodeName();
};

void TestDnsMessage::parse_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QList<int>>("header"); // ID, flags, QR, OPCODE, AA, TC, RD, RA, Z, RCODE, 4 counts
    QTest::addColumn<QByteArray>("qname");
    QTest::addColumn<int>("qtype");
    QTest::addColumn<int>("qclass");

    QTest::newRow("plain A query") << hex(queryHeader + v4Name + " 0001 0001")
                                   << QList<int>({0x1234, 0x0100, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0})
                                   << QByteArray("www.v4.test") << 1 << 1;
    QTest::newRow("every flag bit set")
        << hex("ffff ffff 0102 0304 0506 0708 00 fffe fffd")
        << QList<int>({0xffff, 0xffff, 1, 15, 1, 1, 1, 1, 7, 15, 0x0102, 0x0304, 0x0506, 0x0708})
        << QByteArray() << 0xfffe << 0xfffd;
    QTest::newRow("QR alone") << hex("0000 8000 0001 0000 0000 0000 00 0001 0001")
                              << QList<int>({0, 0x8000, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}) << QByteArray()
                              << 1 << 1;
    QTest::newRow("OPCODE 1 alone") << hex("0000 0800 0001 0000 0000 0000 00 0001 0001")
                                    << QList<int>({0, 0x0800, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0})
                                    << QByteArray() << 1 << 1;
    QTest::newRow("AA alone") << hex("0000 0400 0001 0000 0000 0000 00 0001 0001")
                              << QList<int>({0, 0x0400, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0}) << QByteArray()
                              << 1 << 1;
    QTest::newRow("TC alone") << hex("0000 0200 0001 0000 0000 0000 00 0001 0001")
                              << QList<int>({0, 0x0200, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0}) << QByteArray()
                              << 1 << 1;
    QTest::newRow("RA alone") << hex("0000 0080 0001 0000 0000 0000 00 0001 0001")
                              << QList<int>({0, 0x0080, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0}) << QByteArray()
                              << 1 << 1;
    QTest::newRow("Z lowest bit alone")
        << hex("0000 0010 0001 0000 0000 0000 00 0001 0001")
        << QList<int>({0, 0x0010, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0}) << QByteArray() << 1 << 1;
    QTest::newRow("RCODE 1 alone") << hex("0000 0001 0001 0000 0000 0000 00 0001 0001")
                                   << QList<int>({0, 0x0001, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0})
                                   << QByteArray() << 1 << 1;
    QTest::newRow("label holding a dot byte")
        << hex(queryHeader + "06 7777772e7634 0474657374 00 001c 0001")
        << QList<int>({0x1234, 0x0100, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}) << QByteArray("www.v4.test") << 28
        << 1;
    QTest::newRow("bytes kept as they are")
        << hex(queryHeader + "03 41ff00 01 2e 00 000f 0003")
        << QList<int>({0x1234, 0x0100, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}) << QByteArray("A\xff\0..", 5)
        << 15 << 3;
}

void TestDnsMessage::parse()
{
    QFETCH(QByteArray, query);
    QFETCH(QList<int>, header);
    QFETCH(QByteArray, qname);
    QFETCH(int, qtype);
    QFETCH(int, qclass);

    const DnsMessage message(query);
    QVERIFY(!message.isDroppable());
    const DnsHeader &h = message.header;
    QCOMPARE(QList<int>({h.ID, h.flags, h.QR, h.OPCODE, h.AA, h.TC, h.RD, h.RA, h.Z, h.RCODE, h.QDCOUNT,
                         h.ANCOUNT, h.NSCOUNT, h.ARCOUNT}),
             header);
    QCOMPARE(message.question.QNAME, qname);
    QCOMPARE(int(message.question.QTYPE), qtype);
    QCOMPARE(int(message.question.QCLASS), qclass);
}

void TestDnsMessage::reply_data()
{
    QTest::addColumn<QStringList>("rules");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("rcode");
    QTest::addColumn<QByteArray>("qname");
    QTest::addColumn<QString>("answerText");

    const QStringList rules = standardRules;
    const QByteArray v4 = "www.v4.test";
    const QByteArray v6 = "www.v6.test";
    const QByteArray null = "www.null.test";

    // The asked type against the rule's address: its own type and ANY get the record, any other
    // type "no data", always with the question as asked.
    QTest::newRow("A, IPv4 rule") << rules << hex(queryHeader + v4Name + " 0001 0001") << hex(v4AReply) << 0
                                  << v4 << "127.0.0.1";
    QTest::newRow("AAAA, IPv4 rule: no data")
        << rules << hex(queryHeader + v4Name + " 001c 0001") << hex(noDataHeader + v4Name + " 001c 0001") << 0
        << v4 << "127.0.0.1";
    QTest::newRow("MX, IPv4 rule: no data")
        << rules << hex(queryHeader + v4Name + " 000f 0001") << hex(noDataHeader + v4Name + " 000f 0001") << 0
        << v4 << "127.0.0.1";
    QTest::newRow("TXT, IPv4 rule: no data")
        << rules << hex(queryHeader + v4Name + " 0010 0001") << hex(noDataHeader + v4Name + " 0010 0001") << 0
        << v4 << "127.0.0.1";
    QTest::newRow("ANY, IPv4 rule") << rules << hex(queryHeader + v4Name + " 00ff 0001")
                                    << hex(answeredHeader + v4Name + " 00ff 0001 " + v4Name + " 0001 0001" +
                                           ttl + v4Data)
                                    << 0 << v4 << "127.0.0.1";
    QTest::newRow("AAAA, IPv6 rule") << rules << hex(queryHeader + v6Name + " 001c 0001")
                                     << hex(answeredHeader + v6Name + " 001c 0001 " + v6Name + " 001c 0001" +
                                            ttl + v6Data)
                                     << 0 << v6 << "::1";
    QTest::newRow("A, IPv6 rule: no data") << rules << hex(queryHeader + v6Name + " 0001 0001")
                                           << hex(noDataHeader + v6Name + " 0001 0001") << 0 << v6 << "::1";
    QTest::newRow("MX, IPv6 rule: no data") << rules << hex(queryHeader + v6Name + " 000f 0001")
                                            << hex(noDataHeader + v6Name + " 000f 0001") << 0 << v6 << "::1";
    QTest::newRow("ANY, IPv6 rule") << rules << hex(queryHeader + v6Name + " 00ff 0001")
                                    << hex(answeredHeader + v6Name + " 00ff 0001 " + v6Name + " 001c 0001" +
                                           ttl + v6Data)
                                    << 0 << v6 << "::1";
    QTest::newRow("AAAA, null-address rule")
        << rules << hex(queryHeader + nullName + " 001c 0001")
        << hex(answeredHeader + nullName + " 001c 0001 " + nullName + " 001c 0001" + ttl + nullData) << 0
        << null << "::";
    QTest::newRow("A, null-address rule: no data")
        << rules << hex(queryHeader + nullName + " 0001 0001") << hex(noDataHeader + nullName + " 0001 0001")
        << 0 << null << "::";
    QTest::newRow("MX, null-address rule: no data")
        << rules << hex(queryHeader + nullName + " 000f 0001") << hex(noDataHeader + nullName + " 000f 0001")
        << 0 << null << "::";
    QTest::newRow("ANY, null-address rule")
        << rules << hex(queryHeader + nullName + " 00ff 0001")
        << hex(answeredHeader + nullName + " 00ff 0001 " + nullName + " 001c 0001" + ttl + nullData) << 0
        << null << "::";
    QTest::newRow("class echoed in both places")
        << rules << hex(queryHeader + v4Name + " 0001 0003")
        << hex(answeredHeader + v4Name + " 0001 0003 " + v4Name + " 0001 0003" + ttl + v4Data) << 0 << v4
        << "127.0.0.1";

    // Header: the error replies, the counts and the flags.
    QTest::newRow("no rule: server failure") << rules << hex(queryHeader + noneName + " 0001 0001")
                                             << hex(serverFailure) << 2 << QByteArray("www.none.test") << "";
    QTest::newRow("empty rule list: server failure")
        << QStringList() << hex(queryHeader + v4Name + " 0001 0001") << hex(serverFailure) << 2 << v4 << "";
    QTest::newRow("QDCOUNT 2: format error without lookup")
        << rules << hex("1234 0100 0002 0000 0000 0000 " + v4Name + " 0001 0001 " + v6Name + " 0001 0001")
        << hex(formatError) << 1 << v4 << "";
    QTest::newRow("QDCOUNT 65535: format error")
        << rules << hex("1234 0100 ffff 0000 0000 0000 " + v4Name + " 0001 0001") << hex(formatError) << 1
        << v4 << "";
    QTest::newRow("QDCOUNT 0 with a question: answered")
        << rules << hex("1234 0100 0000 0000 0000 0000 " + v4Name + " 0001 0001") << hex(v4AReply) << 0 << v4
        << "127.0.0.1";
    QTest::newRow("QDCOUNT 0, header alone: format error")
        << rules << hex("1234 0100 0000 0000 0000 0000") << hex(formatError) << 1 << QByteArray() << "";
    QTest::newRow("counts of other sections zeroed")
        << rules << hex("1234 0100 0001 0003 0004 0005 " + v4Name + " 0001 0001") << hex(v4AReply) << 0 << v4
        << "127.0.0.1";
    QTest::newRow("QR, AA, TC, RA, Z and RCODE of the query cleared")
        << rules << hex("1234 96ff 0001 0000 0000 0000 " + v4Name + " 0001 0001")
        << hex("1234 9000 0001 0001 0000 0000 " + v4Name + " 0001 0001 " + v4Name + " 0001 0001" + ttl +
               v4Data)
        << 0 << v4 << "127.0.0.1";
    QTest::newRow("OPCODE 15 and RD kept")
        << rules << hex("1234 7900 0001 0000 0000 0000 " + noneName + " 0001 0001")
        << hex("1234 f902 0000 0000 0000 0000") << 2 << QByteArray("www.none.test") << "";
    QTest::newRow("RD clear stays clear")
        << rules << hex("1234 0000 0001 0000 0000 0000 " + noneName + " 0001 0001")
        << hex("1234 8002 0000 0000 0000 0000") << 2 << QByteArray("www.none.test") << "";
    QTest::newRow("EDNS OPT record ignored")
        << rules << hex(ednsQuery) << hex(v4AReply) << 0 << v4 << "127.0.0.1";
    QTest::newRow("bytes after the question ignored")
        << rules << hex(queryHeader + v4Name + " 0001 0001 deadbeef") << hex(v4AReply) << 0 << v4
        << "127.0.0.1";

    // Names: written back from the dotted text, with the query's bytes.
    QTest::newRow("upper-case name kept")
        << rules << hex(queryHeader + "03575757 025634 0454455354 00 0001 0001")
        << hex(answeredHeader + "03575757 025634 0454455354 00 0001 0001 " +
               "03575757 025634 0454455354 00 0001 0001" + ttl + v4Data)
        << 0 << QByteArray("WWW.V4.TEST") << "127.0.0.1";
    QTest::newRow("high and NUL bytes kept")
        << rules << hex(queryHeader + "03 e900ff 027634 0474657374 00 0001 0001")
        << hex(answeredHeader + "03 e900ff 027634 0474657374 00 0001 0001 " +
               "03 e900ff 027634 0474657374 00 0001 0001" + ttl + v4Data)
        << 0 << QByteArray("\xe9\0\xff.v4.test", 11) << "127.0.0.1";
    QTest::newRow("root name, lone star rule")
        << loneStar << hex(queryHeader + "00 0001 0001")
        << hex(answeredHeader + "00 0001 0001 00 0001 0001" + ttl + v4Data) << 0 << QByteArray()
        << "127.0.0.1";
    QTest::newRow("root name without a rule")
        << rules << hex(queryHeader + "00 0001 0001") << hex(serverFailure) << 2 << QByteArray() << "";
    QTest::newRow("label holding a dot byte: two labels")
        << rules << hex(queryHeader + "06 7777772e7634 0474657374 00 0001 0001") << hex(v4AReply) << 0 << v4
        << "127.0.0.1";
    QTest::newRow("label of one dot byte: two empty labels")
        << loneStar << hex(queryHeader + "01 2e 00 0001 0001")
        << hex(answeredHeader + "000000 0001 0001 000000 0001 0001" + ttl + v4Data) << 0 << QByteArray(".")
        << "127.0.0.1";
    const QByteArray longLabel = "c0 " + QByteArray("61").repeated(192) + " 00";
    QTest::newRow("length byte 192 is a plain count")
        << QStringList({"127.0.0.1 a*"}) << hex(queryHeader + longLabel + " 0001 0001")
        << hex(answeredHeader + longLabel + " 0001 0001 " + longLabel + " 0001 0001" + ttl + v4Data) << 0
        << QByteArray(192, 'a') << "127.0.0.1";

    // A question cut off by the end of the datagram.
    QTest::newRow("label length past the end")
        << loneStar << hex(queryHeader + "05 6162") << hex(formatError) << 1 << QByteArray() << "";
    QTest::newRow("compression pointer past the end")
        << loneStar << hex(queryHeader + "c00c 0001 0001") << hex(formatError) << 1 << QByteArray() << "";
    QTest::newRow("name without its zero byte")
        << loneStar << hex(queryHeader + "03777777") << hex(formatError) << 1 << QByteArray() << "";
    QTest::newRow("QTYPE missing") << loneStar << hex(queryHeader + v4Name) << hex(formatError) << 1 << v4
                                   << "";
    QTest::newRow("QCLASS cut in half")
        << loneStar << hex(queryHeader + v4Name + " 0001 00") << hex(formatError) << 1 << v4 << "";
}

void TestDnsMessage::reply()
{
    QFETCH(QStringList, rules);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    QFETCH(int, rcode);
    QFETCH(QByteArray, qname);
    QFETCH(QString, answerText);

    DnsMessage message(query);
    QVERIFY(!message.isDroppable());
    QCOMPARE(message.buildReply(makeRules(rules)).toHex(' '), reply.toHex(' '));
    QCOMPARE(int(message.header.RCODE), rcode);
    QCOMPARE(message.question.QNAME, qname);
    QCOMPARE(message.answerText(), answerText);
}

void TestDnsMessage::truncated_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("reply"); // empty: dropped

    const QByteArray query = hex(ednsQuery);
    const qsizetype questionEnd = 12 + 13 + 4;
    for (qsizetype length = 0; length <= query.size(); ++length) {
        const QByteArray reply = length < 12            ? QByteArray()
                                 : length < questionEnd ? hex(formatError)
                                                        : hex(v4AReply);
        QTest::addRow("%d of %d bytes", int(length), int(query.size())) << query.left(length) << reply;
    }
}

void TestDnsMessage::truncated()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, reply);

    // A copy of exactly the datagram's length, so that a read past its end is a read past the heap
    // block, which a sanitizer build reports.
    const QByteArray exact(datagram.constData(), datagram.size());
    DnsMessage message(exact);
    QCOMPARE(message.isDroppable(), reply.isEmpty());
    QCOMPARE(message.buildReply(makeRules(standardRules)).toHex(' '), reply.toHex(' '));
}

void TestDnsMessage::encodeName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("root name") << QByteArray() << hex("00");
    QTest::newRow("one label") << QByteArray("test") << hex("04 74657374 00");
    QTest::newRow("three labels") << QByteArray("www.v4.test") << hex(v4Name);
    QTest::newRow("case and bytes kept") << QByteArray("A\xff\0", 3) << hex("03 41ff00 00");
    QTest::newRow("lone dot: two empty parts") << QByteArray(".") << hex("00 00 00");
    QTest::newRow("two dots in a row") << QByteArray("a..b") << hex("0161 00 0162 00");
    QTest::newRow("trailing dot: empty last part") << QByteArray("a.") << hex("0161 00 00");
    QTest::newRow("part of 255 bytes")
        << QByteArray(255, 'x') << hex("ff" + QByteArray("78").repeated(255) + "00");
}

void TestDnsMessage::encodeName()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, encoded);

    QByteArray out("\xab");
    DnsMessage::encodeName(name, out);
    QCOMPARE(out.toHex(' '), ("\xab" + encoded).toHex(' '));
}

QTEST_GUILESS_MAIN(TestDnsMessage)
#include "tst_dnsmessage.moc"
