#include "tests/support/StreamingHttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

StreamingHttpServer::StreamingHttpServer(const QByteArray &pattern, qint64 size)
    : pattern(pattern), size(size)
{
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (listener >= 0)
            ::close(listener);
        listener = -1;
        return;
    }
    port = ntohs(address.sin_port);
    thread = std::thread([this] { serve(); });
}

StreamingHttpServer::~StreamingHttpServer()
{
    stopping = true;
    if (thread.joinable())
        thread.join();
    if (listener >= 0)
        ::close(listener);
}

QUrl StreamingHttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/list").arg(port));
}

QByteArray StreamingHttpServer::body(const QByteArray &pattern, qint64 from, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 at = 0; at < size; ++at)
        bytes[at] = pattern.at((from + at) % pattern.size());
    return bytes;
}

void StreamingHttpServer::serve()
{
    // Waits in short steps, so that the destructor can end the thread when no client comes.
    pollfd waiting{listener, POLLIN, 0};
    while (!stopping && ::poll(&waiting, 1, 50) <= 0) {
    }
    if (stopping)
        return;
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
        return;
    // Blocking writes wake up now and then to see whether the test is over.
    const timeval step{0, 100000};
    ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &step, sizeof step);
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n")) {
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) {
            ::close(client);
            return;
        }
        request.append(buffer, got);
    }
    // Whole repetitions per piece, so that every piece starts where the pattern does.
    const QByteArray piece = body(pattern, 0, (65536 / pattern.size() + 1) * pattern.size());
    QByteArray wire =
        "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + QByteArray::number(size) + "\r\n\r\n";
    for (qint64 sent = 0; !stopping && (sent < size || !wire.isEmpty());) {
        if (wire.isEmpty()) {
            const qint64 next = qMin<qint64>(piece.size(), size - sent);
            wire = piece.left(next);
            sent += next;
        }
        const ssize_t written = ::send(client, wire.constData(), std::size_t(wire.size()), MSG_NOSIGNAL);
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (written <= 0)
            break;
        wire.remove(0, written);
    }
    ::close(client);
}
