#pragma once

#include <QByteArray>
#include <QHostAddress>

#include <memory>
#include <vector>

class QUdpSocket;

// The datagrams waiting on a bound UDP socket, read and answered a batch at a time. On Linux all
// but the first of a batch are read with one system call and their replies sent with one (recvmmsg,
// sendmmsg); elsewhere every datagram goes through the socket on its own. The first always does:
// the socket watches for more only once it has been read from.
class DatagramBatch {
public:
    DatagramBatch(QUdpSocket &socket, int capacity);
    ~DatagramBatch();

    // Reads what is waiting, up to the capacity, in place of the last batch; gives the count.
    int receive();
    // Datagram `index` of the batch, whole; valid until the next receive().
    QByteArray datagram(int index) const;
    QHostAddress sender(int index) const;
    // Keeps `data` as the reply to datagram `index`; send() sends the replies in the batch's order.
    void reply(int index, QByteArray data) { replies[index] = std::move(data); }
    void send();

private:
    // Room for the largest UDP datagram, so that none is cut.
    static constexpr qsizetype slotSize = 65536;

    char *slot(int index) const { return buffers.get() + index * slotSize; }

    QUdpSocket &socket;
    const int capacity;
    // Pages the system never writes to are never mapped.
    std::unique_ptr<char[]> buffers;
    std::vector<qint64> sizes;
    std::vector<QByteArray> replies;
    int count = 0;
    // Where the senders are kept, and what the system's calls need: made by each system's own file.
    struct Native;
    using NativePointer = std::unique_ptr<Native, void (*)(Native *)>;
    // `slotBuffer` holds `capacity` slots of slotSize.
    static NativePointer createNative(int capacity, char *slotBuffer);
    NativePointer native;
};
