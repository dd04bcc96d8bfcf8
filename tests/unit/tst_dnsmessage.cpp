#include "dns/DnsMessage.h"
#include "dns/HostRule.h"
#include "tests/support/DnsTestClient.h"

#include <QtTest>

#include <tuple>

// Datagram in, reply bytes out, against three rules: an IPv4, an IPv6 and a null-address one.
class TestDnsMessage : public QObject {
    Q_OBJECT

private slots:
    void reply_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QByteArray>("expected"); // empty: dropped without a reply

        const auto question = [](const QByteArray &wire, quint16 type) { return wire + dnsWords({type, 1}); };
        const auto record = [](const QByteArray &wire, quint16 type, const QByteArray &rdata) {
            return wire + dnsWords({type, 1, 0, 3600, quint16(rdata.size())}) + rdata;
        };
        // To ID 0x1234 with RD: the header, then the echoed question and the record, if any.
        const auto reply = [](quint16 flags, const QByteArray &asked = {}, const QByteArray &answer = {}) {
            return dnsHeader(0x1234, flags, asked.isEmpty() ? 0 : 1, answer.isEmpty() ? 0 : 1) + asked +
                   answer;
        };
        const QByteArray v4 = wireName("www.V4.test"), v4Data = QByteArray::fromHex("7f000001");

        // A rule answers its own type and ANY with its record, other types with none; the question
        // is echoed as asked, in its case.
        for (const auto &[kind, name, type, rdata] :
             {std::tuple{"IPv4", v4, 1, v4Data},
              {"IPv6", wireName("www.v6.test"), 28, QByteArray::fromHex("00000000000000000000000000000001")},
              {"null-address", wireName("www.null.test"), 28, QByteArray(16, '\0')}}) {
            for (const quint16 asked : {1, 28, 255, 15}) {
                const bool withRecord = asked == type || asked == 255;
                QTest::addRow("type %d, %s rule", asked, kind)
                    << dnsQuery(0x1234, name, asked)
                    << reply(0x8100, question(name, asked), withRecord ? record(name, type, rdata) : "");
            }
        }
        const QByteArray none = wireName("www.none.test");
        QTest::newRow("no rule: SERVFAIL") << dnsQuery(0x1234, none) << reply(0x8102);
        QTest::newRow("root name, no rule: SERVFAIL") << dnsQuery(0x1234, wireName("")) << reply(0x8102);
        QTest::newRow("ID, OPCODE and RD as asked, other bits and counts cleared")
            << dnsHeader(0xbeef, 0x96ff, 1, 3, 4, 5) + question(none, 1) << dnsHeader(0xbeef, 0x9002, 0);
        QTest::newRow("QDCOUNT 2: FORMERR")
            << dnsHeader(0x1234, 0x0100, 2) + question(v4, 1) + question(v4, 1) << reply(0x8101);
        // At most 255 bytes on the wire: 253 characters of dotted text.
        const QByteArray text =
            QByteArray(63, 'a').append('.').repeated(3) + QByteArray(53, 'a') + ".v4.test";
        QTest::newRow("name of 253 characters")
            << dnsQuery(0x1234, wireName(text))
            << reply(0x8100, question(wireName(text), 1), record(wireName(text), 1, v4Data));
        QTest::newRow("name of 254 characters: FORMERR")
            << dnsQuery(0x1234, wireName('a' + text)) << reply(0x8101);
        // Every cut of a query as dig sends it, with an EDNS record after the question: inside the
        // header no reply, inside the name, type or class FORMERR.
        const QByteArray asked = question(v4, 1);
        const QByteArray dig =
            dnsHeader(0x1234, 0x0100, 1, 0, 0, 1) + asked + QByteArray::fromHex("00 0029 1000 00000000 0000");
        for (int length = 0; length <= dig.size(); ++length) {
            QTest::addRow("cut at %d of %d bytes", length, int(dig.size()))
                << dig.left(length)
                << (length < 12                  ? QByteArray()
                    : length < 12 + asked.size() ? reply(0x8101)
                                                 : reply(0x8100, asked, record(v4, 1, v4Data)));
        }
    }

    void reply()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QByteArray, expected);

        HostRules rules;
        for (const char *line : {"127.0.0.1 *.v4.test", "::1 *.v6.test", "invalid *.null.test"})
            parseHostsLine(rules, QString::fromLatin1(line));
        // Exactly the datagram's bytes: a read past its end is a read past the heap block.
        DnsMessage message(QByteArray(datagram.constData(), datagram.size()));
        QCOMPARE(message.buildReply(rules).toHex(' '), expected.toHex(' '));
        QCOMPARE(message.isDroppable(), expected.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDnsMessage)
#include "tst_dnsmessage.moc"
