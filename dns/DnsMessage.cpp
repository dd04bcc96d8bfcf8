#include "dns/DnsMessage.h"

#include "dns/HostRule.h"

#include <QHostAddress>
#include <QtEndian>

namespace {

// Reads a datagram from its start. A read that does not fit before the end fails and leaves the
// position where it was.
class Reader {
public:
    explicit Reader(const QByteArray &data) : data(data) {}

    bool readUInt16(quint16 &value)
    {
        if (data.size() - offset < 2)
            return false;
        value = quint16(byteAt(offset) << 8 | byteAt(offset + 1));
        offset += 2;
        return true;
    }

    // A name of length-prefixed labels up to the zero byte, as dotted text.
    bool readName(QByteArray &name)
    {
        qsizetype end = offset;
        while (true) {
            if (end >= data.size())
                return false;
            const quint8 length = byteAt(end);
            if (length == Dns::nameEnd)
                break;
            end += 1 + length;
        }
        // The text is every byte between the first length byte and the zero byte, with each later
        // length byte turned into a dot: one copy, no appends.
        if (end == offset) {
            name.clear();
        } else {
            name = data.sliced(offset + 1, end - offset - 1);
            for (qsizetype at = offset + 1 + byteAt(offset); at < end; at += 1 + byteAt(at))
                name[at - offset - 1] = '.';
        }
        offset = end + 1;
        return true;
    }

private:
    quint8 byteAt(qsizetype at) const { return quint8(data.at(at)); }

    const QByteArray &data;
    qsizetype offset = 0;
};

void appendUInt16(QByteArray &out, quint16 value)
{
    out.append(char(value >> 8)).append(char(value));
}

void appendUInt32(QByteArray &out, quint32 value)
{
    appendUInt16(out, quint16(value >> 16));
    appendUInt16(out, quint16(value));
}

qsizetype encodedSize(const QByteArray &name)
{
    return name.isEmpty() ? 1 : name.size() + 2;
}

} // namespace

DnsMessage::DnsMessage(const QByteArray &datagram)
{
    Reader reader(datagram);
    headerRead = reader.readUInt16(header.ID) && reader.readUInt16(header.flags) &&
                 reader.readUInt16(header.QDCOUNT) && reader.readUInt16(header.ANCOUNT) &&
                 reader.readUInt16(header.NSCOUNT) && reader.readUInt16(header.ARCOUNT);
    if (!headerRead)
        return;
    const quint16 flags = header.flags;
    header.QR = flags >> 15;
    header.OPCODE = (flags >> 11) & 0xF;
    header.AA = (flags >> 10) & 1;
    header.TC = (flags >> 9) & 1;
    header.RD = (flags >> 8) & 1;
    header.RA = (flags >> 7) & 1;
    header.Z = (flags >> 4) & 0x7;
    header.RCODE = flags & 0xF;
    // With QDCOUNT 0 the bytes after the header are read as a question all the same.
    questionRead = reader.readName(question.QNAME) && reader.readUInt16(question.QTYPE) &&
                   reader.readUInt16(question.QCLASS);
}

QByteArray DnsMessage::buildReply(const HostRules &rules)
{
    if (!headerRead)
        return QByteArray();
    header.QR = 1;
    header.AA = 0;
    header.TC = 0;
    header.RA = 0;
    header.Z = 0;
    header.NSCOUNT = 0;
    header.ARCOUNT = 0;

    bool withRecord = false;
    if (header.QDCOUNT > 1 || !questionRead || encodedSize(question.QNAME) > Dns::maxNameLength) {
        header.RCODE = Dns::formatError;
    } else {
        answer.NAME = question.QNAME;
        answer.CLASS = question.QCLASS;
        answer.TTL = Dns::answerTtl;
        if (rules.findAnswer(question.QNAME, answer.RDLENGTH, answer.RDATA)) {
            header.RCODE = Dns::noError;
            answer.TYPE = answer.RDLENGTH == 4 ? Dns::typeA : Dns::typeAaaa;
            // Any other type gets "no data of that type", which resolvers take at once; an answer of
            // another type than asked would be discarded, and the client would wait for its timeout.
            withRecord = question.QTYPE == answer.TYPE || question.QTYPE == Dns::typeAny;
        } else {
            header.RCODE = Dns::serverFailure;
        }
    }
    header.QDCOUNT = header.RCODE == Dns::noError ? 1 : 0;
    header.ANCOUNT = withRecord ? 1 : 0;
    header.flags = quint16(header.QR << 15 | header.OPCODE << 11 | header.AA << 10 | header.TC << 9 |
                           header.RD << 8 | header.RA << 7 | header.Z << 4 | header.RCODE);

    const qsizetype nameSize = encodedSize(question.QNAME);
    QByteArray reply;
    reply.reserve(Dns::headerSize + (header.QDCOUNT ? nameSize + 4 : 0) +
                  (header.ANCOUNT ? nameSize + 10 + answer.RDATA.size() : 0));
    appendUInt16(reply, header.ID);
    appendUInt16(reply, header.flags);
    appendUInt16(reply, header.QDCOUNT);
    appendUInt16(reply, header.ANCOUNT);
    appendUInt16(reply, header.NSCOUNT);
    appendUInt16(reply, header.ARCOUNT);
    if (header.QDCOUNT) {
        encodeName(question.QNAME, reply);
        appendUInt16(reply, question.QTYPE);
        appendUInt16(reply, question.QCLASS);
    }
    if (header.ANCOUNT) {
        encodeName(answer.NAME, reply);
        appendUInt16(reply, answer.TYPE);
        appendUInt16(reply, answer.CLASS);
        appendUInt32(reply, answer.TTL);
        appendUInt16(reply, answer.RDLENGTH);
        reply.append(answer.RDATA);
    }
    return reply;
}

QString DnsMessage::answerText() const
{
    const auto *bytes = reinterpret_cast<const quint8 *>(answer.RDATA.constData());
    switch (answer.RDATA.size()) {
    case 4:
        return QHostAddress(qFromBigEndian<quint32>(bytes)).toString();
    case 16:
        return QHostAddress(bytes).toString();
    default: // no rule has answered
        return QString();
    }
}

void DnsMessage::encodeName(const QByteArray &name, QByteArray &out)
{
    if (!name.isEmpty()) {
        qsizetype start = 0;
        while (true) {
            qsizetype dot = name.indexOf('.', start);
            if (dot < 0)
                dot = name.size();
            Q_ASSERT(dot - start <= Dns::maxLabelLength);
            out.append(char(dot - start)).append(name.constData() + start, dot - start);
            if (dot == name.size())
                break;
            start = dot + 1;
        }
    }
    out.append(char(Dns::nameEnd));
}
