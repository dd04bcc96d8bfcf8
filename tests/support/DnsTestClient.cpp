#include "tests/support/DnsTestClient.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTimer>
#include <QtEndian>

QByteArray wireName(const QByteArray &dotted)
{
    QByteArray out;
    if (!dotted.isEmpty()) {
        for (const QByteArray &label : dotted.split('.'))
            out.append(char(label.size())).append(label);
    }
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

quint16 dnsId(const QByteArray &datagram)
{
    return datagram.size() < 2 ? 0 : quint16(uchar(datagram.at(0)) << 8 | uchar(datagram.at(1)));
}

QString dnsOutcome(const QByteArray &reply, const QByteArray &asked)
{
    if (reply.size() < 12 || asked.size() < 3)
        return QStringLiteral("malformed: %1 bytes").arg(reply.size());
    if (dnsId(reply) != dnsId(asked))
        return QStringLiteral("malformed: ID %1").arg(dnsId(reply));
    // QR set; OPCODE and RD as asked.
    const uchar flags = uchar(reply.at(2));
    const uchar askedFlags = uchar(asked.at(2));
    if (!(flags & 0x80) || (flags & 0x79) != (askedFlags & 0x79))
        return QStringLiteral("malformed: flags %1").arg(QString::fromLatin1(reply.mid(2, 2).toHex()));
    const int rcode = reply.at(3) & 0x0F;
    if (rcode != 0) {
        if (reply.size() != 12)
            return QStringLiteral("malformed: error with sections");
        return rcode == 1   ? QStringLiteral("formerr")
               : rcode == 2 ? QStringLiteral("servfail")
                            : QStringLiteral("rcode");
    }
    if (reply.at(7) == 0)
        return QStringLiteral("nodata");
    // The record ends the reply: RDLENGTH, then 4 or 16 bytes of address.
    const auto wordAt = [&reply](qsizetype at) {
        return int(uchar(reply.at(at))) << 8 | uchar(reply.at(at + 1));
    };
    const auto *bytes = reinterpret_cast<const quint8 *>(reply.constData());
    if (reply.size() >= 30 && wordAt(reply.size() - 6) == 4)
        return QHostAddress(qFromBigEndian<quint32>(bytes + reply.size() - 4)).toString();
    if (reply.size() >= 42 && wordAt(reply.size() - 18) == 16)
        return QHostAddress(bytes + reply.size() - 16).toString();
    return QStringLiteral("malformed: answer record");
}

DnsTestClient::DnsTestClient(const QHostAddress &bindTo)
{
    socket.bind(bindTo, 0);
    connect(&socket, &QUdpSocket::readyRead, this, [this] {
        while (socket.hasPendingDatagrams())
            replies << socket.receiveDatagram().data();
        if (wanted && wanted())
            loop.quit();
    });
}

void DnsTestClient::send(const QByteArray &datagram, quint16 port, const QHostAddress &to)
{
    socket.writeDatagram(datagram, to, port);
}

bool DnsTestClient::waitUntil(const std::function<bool()> &done, int ms)
{
    if (done())
        return true;
    wanted = done;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ms);
    loop.exec();
    wanted = nullptr;
    return done();
}

QString DnsTestClient::ask(const QByteArray &asked, quint16 port, int ms)
{
    const qsizetype from = replies.size();
    const quint16 id = dnsId(asked);
    send(asked, port);
    const auto answered = [this, from, id] {
        return replies.size() > from && dnsId(replies.constLast()) == id;
    };
    if (!waitUntil(answered, ms))
        return QStringLiteral("no reply");
    return dnsOutcome(replies.constLast(), asked);
}

QString DnsTestClient::askUntilServed(const QByteArray &name, quint16 port, int ms)
{
    QString outcome;
    QElapsedTimer clock;
    clock.start();
    for (quint16 id = 1; clock.elapsed() < ms; ++id) {
        outcome = ask(dnsQuery(id, wireName(name)), port, 500);
        if (outcome != QLatin1String("no reply"))
            break;
    }
    return outcome;
}
