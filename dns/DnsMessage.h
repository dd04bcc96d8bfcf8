#pragma once

#include <QByteArray>
#include <QString>

class HostRules;

// Wire values of RFC 1035 (and RFC 3596 for AAAA) that the server reads or writes.
namespace Dns {
constexpr int headerSize = 12; // RFC 1035 4.1.1: six 16-bit words
constexpr quint8 nameEnd = 0;  // RFC 1035 3.1: the zero-length label that ends every name
// A length byte is read as a plain count: RFC 1035 2.3.4's 63-octet label limit and 4.1.4's pointer
// bits are not applied to what is read.
constexpr int maxLabelLength = 255;
// RFC 1035 2.3.4: a name takes at most 255 octets on the wire. A longer one is no name any resolver
// asks for; it gets a format error without a lookup, which keeps every lookup's cost bounded.
constexpr int maxNameLength = 255;
constexpr quint16 typeA = 1;        // RFC 1035 3.2.2
constexpr quint16 typeAaaa = 28;    // RFC 3596 2.1
constexpr quint16 typeAny = 255;    // RFC 1035 3.2.3, QTYPE "*"
constexpr quint32 answerTtl = 3600; // seconds
constexpr quint8 noError = 0;       // RFC 1035 4.1.1 RCODE values
constexpr quint8 formatError = 1;
constexpr quint8 serverFailure = 2;
} // namespace Dns

// Field names as in RFC 1035 4.1.1. The one-bit and short fields sit in bytes of their own; `flags`
// is the second header word as read.
struct DnsHeader {
    quint16 ID = 0;
    quint16 flags = 0;
    quint8 QR = 0;
    quint8 OPCODE = 0;
    quint8 AA = 0;
    quint8 TC = 0;
    quint8 RD = 0;
    quint8 RA = 0;
    quint8 Z = 0;
    quint8 RCODE = 0;
    quint16 QDCOUNT = 0;
    quint16 ANCOUNT = 0;
    quint16 NSCOUNT = 0;
    quint16 ARCOUNT = 0;
};

// Names are held as text bytes: the labels joined by single dots, no trailing dot; the root name is
// empty. A label that holds a dot byte therefore reads back as two labels.
struct DnsQuestion {
    QByteArray QNAME;
    quint16 QTYPE = 0;
    quint16 QCLASS = 0;
};

struct DnsAnswer {
    QByteArray NAME;
    quint16 TYPE = 0;
    quint16 CLASS = 0;
    quint32 TTL = 0;
    quint16 RDLENGTH = 0;
    QByteArray RDATA;
};

// One query datagram and its reply. Only the header and the first question are read; the rest of
// the datagram (further questions, other sections, an EDNS OPT record) is ignored, and label lengths
// are plain counts (Dns::maxLabelLength). No read goes past the datagram:
// - shorter than the header: isDroppable(), and no reply is sent;
// - a question cut off by the end (a label running past it, QTYPE or QCLASS missing), also with
//   QDCOUNT 0, or a name longer than Dns::maxNameLength: a format error reply, like a query of more
//   than one question.
class DnsMessage {
public:
    explicit DnsMessage(const QByteArray &datagram);

    // True when the datagram ends inside the header. Such a datagram gets no reply.
    bool isDroppable() const { return !headerRead; }

    // Decides the outcome and writes the reply, once per message; empty for a droppable datagram.
    // Afterwards RCODE is 0 when a rule decided the name (its address is answerText()), 1 for a
    // format error and 2 when no rule matches. The echoed question is the one asked: a rule answers
    // a question of its own type (A for IPv4, AAAA for IPv6 or a null address) or ANY with one
    // record, and a question of any other type with RCODE 0 and no answer record.
    QByteArray buildReply(const HostRules &rules);

    // The address a rule answered with, as text; meaningful only when RCODE is 0.
    QString answerText() const;

    // Appends `name` (dotted text) as labels: each part between dots as a length byte and its bytes,
    // then the zero byte. No part may be longer than Dns::maxLabelLength, as no part of a name read
    // from a datagram is.
    static void encodeName(const QByteArray &name, QByteArray &out);

    DnsHeader header;
    DnsQuestion question;
    DnsAnswer answer;

private:
    bool headerRead = false;
    bool questionRead = false;
};
