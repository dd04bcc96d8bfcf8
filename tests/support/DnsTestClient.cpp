#include "tests/support/DnsTestClient.h"

#include <QDeadlineTimer>
#include <QNetworkDatagram>
#include <QTest>
#include <QtEndian>

namespace {

quint16 wordAt(const QByteArray &data, qsizetype at)
{
    return data.size() < at + 2 ? 0 : qFromBigEndian<quint16>(data.constData() + at);
}

} // namespace

QByteArray wireName(const QByteArray &dotted)
{
    QByteArray out;
    for (const QByteArray &label : dotted.isEmpty() ? QList<QByteArray>() : dotted.split('.'))
        out.append(char(label.size())).append(label);
    return out.append('\0');
}

QByteArray dnsWords(std::initializer_list<quint16> values)
{
    QByteArray out;
    for (quint16 value : values)
        out.append(char(value >> 8)).append(char(value));
    return out;
}

QByteArray dnsHeader(quint16 id, quint16 flags, quint16 qdcount, quint16 ancount, quint16 nscount,
                     quint16 arcount)
{
    return dnsWords({id, flags, qdcount, ancount, nscount, arcount});
}

QByteArray dnsQuery(quint16 id, const QByteArray &wire, quint16 type)
{
    return dnsHeader(id, recursionDesired, 1) + wire + dnsWords({type, 1});
}

QString dnsOutcome(const QByteArray &reply, const QByteArray &asked)
{
    if (reply.size() < 12 || wordAt(reply, 0) != wordAt(asked, 0))
        return QStringLiteral("malformed: %1 bytes, ID %2").arg(reply.size()).arg(wordAt(reply, 0));
    // QR set; OPCODE and RD as asked.
    const uchar flags = uchar(reply.at(2));
    if (!(flags & 0x80) || (flags & 0x79) != (uchar(asked.at(2)) & 0x79))
        return QStringLiteral("malformed: flags %1").arg(QString::fromLatin1(reply.mid(2, 2).toHex()));
    if (const int rcode = reply.at(3) & 0x0F) {
        if (reply.size() != 12)
            return QStringLiteral("malformed: error with sections");
        return rcode == 1 ? QStringLiteral("formerr") : rcode == 2 ? QStringLiteral("servfail") : "rcode";
    }
    if (wordAt(reply, 6) == 0)
        return QStringLiteral("nodata");
    // The record ends the reply: RDLENGTH, then 4 or 16 bytes of address.
    const auto *bytes = reinterpret_cast<const quint8 *>(reply.constData()) + reply.size();
    if (reply.size() >= 30 && wordAt(reply, reply.size() - 6) == 4)
        return QHostAddress(qFromBigEndian<quint32>(bytes - 4)).toString();
    if (reply.size() >= 42 && wordAt(reply, reply.size() - 18) == 16)
        return QHostAddress(bytes - 16).toString();
    return QStringLiteral("malformed: answer record");
}

QString DnsTestClient::ask(const QByteArray &asked, quint16 port, int ms)
{
    send(asked, port);
    for (QDeadlineTimer deadline(ms); !deadline.hasExpired(); QTest::qWait(5)) {
        while (socket.hasPendingDatagrams()) {
            replies << socket.receiveDatagram().data();
            if (wordAt(replies.constLast(), 0) == wordAt(asked, 0))
                return dnsOutcome(replies.constLast(), asked);
        }
    }
    return QStringLiteral("no reply");
}

void DnsTestClient::awaitReplies(int count, int ms)
{
    for (QDeadlineTimer deadline(ms); replies.size() < count && !deadline.hasExpired(); QTest::qWait(5)) {
        while (socket.hasPendingDatagrams())
            replies << socket.receiveDatagram().data();
    }
}

QString DnsTestClient::askUntilServed(const QByteArray &name, quint16 port, int ms)
{
    QString outcome = QStringLiteral("no reply");
    for (QDeadlineTimer deadline(ms); outcome == QLatin1String("no reply") && !deadline.hasExpired();)
        outcome = ask(dnsQuery(quint16(deadline.remainingTime()), wireName(name)), port, 500);
    return outcome;
}
