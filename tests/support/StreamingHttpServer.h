#pragma once

#include <QByteArray>
#include <QUrl>

#include <atomic>
#include <thread>

// An HTTP server on 127.0.0.1 that answers one GET with `size` bytes of `pattern` repeated, from a
// thread of its own with blocking writes: it sends as fast as the client takes the bytes, whatever
// the client's event loop is doing, and never holds the body whole.
class StreamingHttpServer {
public:
    StreamingHttpServer(const QByteArray &pattern, qint64 size);
    ~StreamingHttpServer();

    bool isListening() const { return listener >= 0; }
    QUrl url() const;
    // The bytes it serves from `from` on, `size` of them.
    static QByteArray body(const QByteArray &pattern, qint64 from, qint64 size);

private:
    void serve();

    QByteArray pattern;
    qint64 size;
    int listener = -1;
    quint16 port = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;
};
