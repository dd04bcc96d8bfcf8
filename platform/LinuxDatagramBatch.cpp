#include "platform/DatagramBatch.h"

#include <QUdpSocket>

#include <sys/socket.h>

#include <array>

namespace {

// The room for each datagram's start in one buffer beside the others: queries are far shorter, so
// a batch maps a few pages in all, not one per datagram. A longer one goes on into a slot.
constexpr qsizetype headRoom = 512;

} // namespace

struct DatagramBatch::Native {
    // The headers that recvmmsg fills, for all but the first datagram, made once.
    Native(int capacity, char *slotBuffer)
        : heads(capacity * headRoom), addresses(capacity), vectors(capacity), messages(capacity),
          replyVectors(capacity), replyMessages(capacity)
    {
        for (int index = 1; index < capacity; ++index) {
            vectors[index] = {iovec{heads.data() + index * headRoom, size_t(headRoom)},
                              iovec{slotBuffer + index * slotSize, size_t(slotSize - headRoom)}};
            msghdr &header = messages[index].msg_hdr;
            header.msg_name = &addresses[index];
            header.msg_namelen = sizeof(sockaddr_storage);
            header.msg_iov = vectors[index].data();
            header.msg_iovlen = 2;
        }
    }

    // The first datagram's sender, as the socket gives it.
    QHostAddress firstSender;
    quint16 firstPort = 0;
    std::vector<char> heads;
    std::vector<sockaddr_storage> addresses;
    std::vector<std::array<iovec, 2>> vectors;
    std::vector<mmsghdr> messages;
    std::vector<iovec> replyVectors;
    std::vector<mmsghdr> replyMessages;
};

int DatagramBatch::receive()
{
    // The system wrote the senders' lengths of the last batch over the room it had.
    for (int index = 1; index < count; ++index)
        native->messages[index].msg_hdr.msg_namelen = sizeof(sockaddr_storage);
    count = 0;
    const qint64 first = socket.readDatagram(slot(0), slotSize, &native->firstSender, &native->firstPort);
    if (first < 0)
        return 0;
    sizes[0] = first;
    count = 1;
    const int more = capacity > 1 ? recvmmsg(int(socket.socketDescriptor()), native->messages.data() + 1,
                                             unsigned(capacity - 1), MSG_DONTWAIT, nullptr)
                                  : 0;
    for (int index = 1; index <= more; ++index)
        sizes[index] = native->messages[index].msg_len;
    count += qMax(more, 0);
    return count;
}

QByteArray DatagramBatch::datagram(int index) const
{
    if (index == 0)
        return QByteArray::fromRawData(slot(0), sizes[0]);
    const char *head = native->heads.data() + index * headRoom;
    if (sizes[index] <= headRoom)
        return QByteArray::fromRawData(head, sizes[index]);
    return QByteArray(head, headRoom) + QByteArray::fromRawData(slot(index), sizes[index] - headRoom);
}

QHostAddress DatagramBatch::sender(int index) const
{
    if (index == 0)
        return native->firstSender;
    return QHostAddress(reinterpret_cast<const sockaddr *>(&native->addresses[index]));
}

void DatagramBatch::send()
{
    if (count > 0 && !replies[0].isEmpty())
        socket.writeDatagram(replies[0], native->firstSender, native->firstPort);
    int queued = 0;
    for (int index = 1; index < count; ++index) {
        if (replies[index].isEmpty())
            continue;
        native->replyVectors[queued] = {replies[index].data(), size_t(replies[index].size())};
        msghdr &header = native->replyMessages[queued].msg_hdr;
        header = {};
        header.msg_name = &native->addresses[index];
        header.msg_namelen = native->messages[index].msg_hdr.msg_namelen;
        header.msg_iov = &native->replyVectors[queued];
        header.msg_iovlen = 1;
        ++queued;
    }
    const int descriptor = int(socket.socketDescriptor());
    for (int sent = 0; sent < queued;) {
        const int done =
            sendmmsg(descriptor, native->replyMessages.data() + sent, unsigned(queued - sent), MSG_DONTWAIT);
        // A reply the system refuses is lost, as one written through the socket would be; the rest go.
        sent += done > 0 ? done : 1;
    }
    for (int index = 0; index < count; ++index)
        replies[index].clear();
}

DatagramBatch::NativePointer DatagramBatch::createNative(int capacity, char *slotBuffer)
{
    return NativePointer(new Native(capacity, slotBuffer), [](Native *native) { delete native; });
}
