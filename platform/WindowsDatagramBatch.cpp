#include "platform/DatagramBatch.h"

#include <QUdpSocket>

struct DatagramBatch::Native {
    explicit Native(int capacity) : senders(capacity), ports(capacity) {}

    std::vector<QHostAddress> senders;
    std::vector<quint16> ports;
};

int DatagramBatch::receive()
{
    count = 0;
    while (count < capacity && (count == 0 || socket.hasPendingDatagrams())) {
        const qint64 size =
            socket.readDatagram(slot(count), slotSize, &native->senders[count], &native->ports[count]);
        if (size < 0)
            break;
        sizes[count++] = size;
    }
    return count;
}

QByteArray DatagramBatch::datagram(int index) const
{
    return QByteArray::fromRawData(slot(index), sizes[index]);
}

QHostAddress DatagramBatch::sender(int index) const
{
    return native->senders[index];
}

void DatagramBatch::send()
{
    for (int index = 0; index < count; ++index) {
        if (!replies[index].isEmpty())
            socket.writeDatagram(replies[index], native->senders[index], native->ports[index]);
        replies[index].clear();
    }
}

DatagramBatch::NativePointer DatagramBatch::createNative(int capacity, char *)
{
    return NativePointer(new Native(capacity), [](Native *native) { delete native; });
}
