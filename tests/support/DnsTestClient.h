#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QUdpSocket>

#include <functional>
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
// The ID of a datagram; 0 for one too short to hold it.
quint16 dnsId(const QByteArray &datagram);
// What `reply` says about `asked`: "formerr", "servfail", "nodata" or the answered address; text
// beginning with "malformed" for a reply that no resolver would take as the answer to `asked`.
QString dnsOutcome(const QByteArray &reply, const QByteArray &asked);

// A UDP client on a loopback address that keeps every reply as it arrives.
class DnsTestClient : public QObject {
public:
    explicit DnsTestClient(const QHostAddress &bindTo = QHostAddress::LocalHost);

    void send(const QByteArray &datagram, quint16 port, const QHostAddress &to = QHostAddress::LocalHost);
    // Sends `asked` to 127.0.0.1 and waits up to `ms` for a reply with its ID; the outcome of that
    // reply, or "no reply". Replies that came before it stay in `replies`.
    QString ask(const QByteArray &asked, quint16 port, int ms);
    // Asks for the A record of `name` every half second until a reply comes, for up to `ms`: for a
    // server that is still starting. The outcome, or "no reply".
    QString askUntilServed(const QByteArray &name, quint16 port, int ms);

    QList<QByteArray> replies;

private:
    // Runs the event loop until `done` holds or `ms` pass; the result of `done`.
    bool waitUntil(const std::function<bool()> &done, int ms);

    QUdpSocket socket;
    QEventLoop loop;
    std::function<bool()> wanted;
};
