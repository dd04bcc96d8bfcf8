#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUdpSocket>

#include <initializer_list>

// Datagrams written out for tests of the DNS server, and a client that reads its replies.

// A dotted name as labels on the wire; the empty name is the root.
QByteArray wireName(const QByteArray &dotted);
// Big-endian 16-bit words.
QByteArray dnsWords(std::initializer_list<quint16> values);
QByteArray dnsHeader(quint16 id, quint16 flags, quint16 qdcount, quint16 ancount = 0, quint16 nscount = 0,
                     quint16 arcount = 0);
constexpr quint16 recursionDesired = 0x0100;
// A query of one question, class IN.
QByteArray dnsQuery(quint16 id, const QByteArray &wire, quint16 type = 1);
// What `reply` says about `asked`: "formerr", "servfail", "nodata" or the answered address; text
// beginning with "malformed" for a reply that no resolver would take as the answer to `asked`.
QString dnsOutcome(const QByteArray &reply, const QByteArray &asked);

// A UDP client on a loopback address that keeps every reply it reads.
class DnsTestClient {
public:
    explicit DnsTestClient(const QHostAddress &bindTo = QHostAddress::LocalHost) { socket.bind(bindTo, 0); }

    void send(const QByteArray &datagram, quint16 port, const QHostAddress &to = QHostAddress::LocalHost)
    {
        socket.writeDatagram(datagram, to, port);
    }
    // Sends `asked` to 127.0.0.1 and waits up to `ms`, the event loop turning, for the reply with its
    // ID; that reply's outcome, or "no reply".
    QString ask(const QByteArray &asked, quint16 port, int ms);
    // Waits up to `ms`, the event loop turning, until `replies` holds `count` replies.
    void awaitReplies(int count, int ms);
    // Asks for the A record of `name` every half second until a reply comes, for up to `ms`: for a
    // server that is still starting.
    QString askUntilServed(const QByteArray &name, quint16 port, int ms);

    QList<QByteArray> replies;

private:
    QUdpSocket socket;
};
