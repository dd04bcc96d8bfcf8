#include "tests/support/HttpTestServer.h"

#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

// The response, piece by piece: the header, then the body (in chunks when chunked), cut short at
// closeAfter.
QList<QByteArray> responsePieces(const HttpTestServer::Route &route)
{
    QByteArray header = "HTTP/1.1 " + QByteArray::number(route.status) + " Test\r\nConnection: close\r\n";
    if (!route.location.isEmpty())
        header += "Location: " + route.location + "\r\n";
    header += route.chunked ? QByteArray("Transfer-Encoding: chunked\r\n")
                            : "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
    QList<QByteArray> pieces{header + "\r\n"};
    const qint64 sent = route.closeAfter >= 0 ? qMin(route.closeAfter, route.body.size()) : route.body.size();
    const int pieceSize = route.bytesPerTick > 0 ? route.bytesPerTick : 64 * 1024;
    for (qint64 at = 0; at < sent; at += pieceSize) {
        const QByteArray data = route.body.mid(at, qMin<qint64>(pieceSize, sent - at));
        pieces << (route.chunked ? QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n" : data);
    }
    if (route.chunked && route.closeAfter < 0)
        pieces << QByteArray("0\r\n\r\n");
    return pieces;
}

} // namespace

HttpTestServer::HttpTestServer()
{
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            // The request is complete at its empty line; a GET has no body.
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (socket->property("answered").toBool() || !socket->peek(1 << 16).contains("\r\n\r\n"))
                    return;
                socket->setProperty("answered", true);
                const QString path = QString::fromLatin1(socket->readLine().split(' ').value(1));
                Route notFound;
                notFound.status = 404;
                const Route route = routes.value(path, notFound);
                if (route.held) {
                    ++held;
                    return;
                }
                auto pieces = std::make_shared<QList<QByteArray>>(responsePieces(route));
                auto *timer = new QTimer(socket);
                QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, pieces] {
                    if (pieces->isEmpty()) {
                        timer->stop();
                        socket->disconnectFromHost();
                        return;
                    }
                    socket->write(pieces->takeFirst());
                });
                timer->start(route.bytesPerTick > 0 ? 20 : 0);
            });
        }
    });
    server.listen(QHostAddress::LocalHost, 0);
}
