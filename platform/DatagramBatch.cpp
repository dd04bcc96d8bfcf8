#include "platform/DatagramBatch.h"

DatagramBatch::DatagramBatch(QUdpSocket &socket, int capacity)
    : socket(socket), capacity(capacity), buffers(new char[capacity * slotSize]), sizes(capacity),
      replies(capacity), native(createNative(capacity, buffers.get()))
{
}

DatagramBatch::~DatagramBatch() = default;
