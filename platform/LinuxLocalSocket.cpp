#include "platform/LinuxLocalSocket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The socket address of `address`, or false when it is too long for one.
bool addressOf(const QByteArray &address, sockaddr_un &socketAddress, socklen_t &length)
{
    socketAddress = {};
    socketAddress.sun_family = AF_UNIX;
    // A path needs its terminating zero; an abstract name is exactly its bytes.
    const bool abstract = address.startsWith('\0');
    if (address.isEmpty() || size_t(address.size()) + (abstract ? 0 : 1) > sizeof(socketAddress.sun_path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(socketAddress.sun_path, address.constData(), size_t(address.size()));
    length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(address.size()) + (abstract ? 0 : 1));
    return true;
}

// A new stream socket for `address`, or -1 with errno set.
int socketFor(const QByteArray &address, sockaddr_un &socketAddress, socklen_t &length)
{
    if (!addressOf(address, socketAddress, length))
        return -1;
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

int failed(int descriptor)
{
    const int error = errno;
    ::close(descriptor);
    errno = error;
    return -1;
}

} // namespace

int connectLocal(const QByteArray &address, int timeoutMs)
{
    sockaddr_un socketAddress;
    socklen_t length = 0;
    const int descriptor = socketFor(address, socketAddress, length);
    if (descriptor < 0)
        return -1;
    // A full backlog makes connect wait, at most this long.
    const timeval timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    int result;
    do
        result = ::connect(descriptor, reinterpret_cast<const sockaddr *>(&socketAddress), length);
    while (result != 0 && errno == EINTR);
    return result == 0 ? descriptor : failed(descriptor);
}

QByteArray peerAddress(int descriptor)
{
    sockaddr_un socketAddress = {};
    socklen_t length = sizeof(socketAddress);
    if (::getpeername(descriptor, reinterpret_cast<sockaddr *>(&socketAddress), &length) != 0 ||
        length <= offsetof(sockaddr_un, sun_path))
        return QByteArray();
    const QByteArray address(socketAddress.sun_path, qsizetype(length - offsetof(sockaddr_un, sun_path)));
    // A path comes with its terminating zero, an abstract name without.
    return address.startsWith('\0') ? address : QByteArray(address.constData());
}

int listenLocal(const QByteArray &address)
{
    sockaddr_un socketAddress;
    socklen_t length = 0;
    const int descriptor = socketFor(address, socketAddress, length);
    if (descriptor < 0)
        return -1;
    // Connecting needs write access to the socket's file: made so as it is created, since a chmod
    // by path afterwards would follow whatever link was put there meanwhile.
    const mode_t mask = ::umask(0111);
    const int bound = ::bind(descriptor, reinterpret_cast<const sockaddr *>(&socketAddress), length);
    ::umask(mask);
    if (bound != 0 || ::listen(descriptor, 16) != 0)
        return failed(descriptor);
    return descriptor;
}
