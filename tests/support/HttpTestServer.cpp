#include "tests/support/HttpTestServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

constexpr int wholeBodyPiece = 64 * 1024;
const QByteArray endOfHeader("\r\n\r\n");

QByteArray chunk(const QByteArray &data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

// What goes on the wire after the header, piece by piece: in chunks when chunked, cut short
// at closeAfter.
QList<QByteArray> wirePieces(const HttpTestServer::Route &route)
{
    const qint64 sent =
        route.closeAfter >= 0 ? qMin<qint64>(route.closeAfter, route.body.size()) : route.body.size();
    const int pieceSize = route.bytesPerTick > 0 ? route.bytesPerTick : wholeBodyPiece;
    QList<QByteArray> pieces;
    for (qint64 at = 0; at < sent; at += pieceSize) {
        const QByteArray data = route.body.mid(at, qMin<qint64>(pieceSize, sent - at));
        pieces << (route.chunked ? chunk(data) : data);
    }
    if (route.chunked && route.closeAfter < 0)
        pieces << QByteArray("0\r\n\r\n");
    return pieces;
}

QByteArray header(const HttpTestServer::Route &route)
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(route.status) + " Test\r\nConnection: close\r\n";
    if (!route.location.isEmpty())
        text += "Location: " + route.location + "\r\n";
    if (route.chunked)
        text += "Transfer-Encoding: chunked\r\n";
    else
        text += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
    return text + "\r\n";
}

} // namespace

HttpTestServer::HttpTestServer()
{
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this] { accept(); });
    server.listen(QHostAddress::LocalHost, 0);
}

QUrl HttpTestServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path));
}

void HttpTestServer::setRoute(const QString &path, const Route &route)
{
    routes.insert(path, route);
}

void HttpTestServer::accept()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { readRequest(socket); });
    }
}

void HttpTestServer::readRequest(QTcpSocket *socket)
{
    // The request is complete at its empty line; a GET has no body.
    if (socket->property("answered").toBool() ||
        !socket->peek(socket->bytesAvailable()).contains(endOfHeader))
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = socket->readLine().trimmed().split(' ');
    socket->readAll();
    const QString path = QString::fromLatin1(requestLine.value(1));
    if (routes.value(path).held)
        ++held;
    else
        respond(socket, path);
}

void HttpTestServer::respond(QTcpSocket *socket, const QString &path)
{
    Route route;
    route.status = 404;
    route = routes.value(path, route);
    socket->write(header(route));
    auto pieces = std::make_shared<QList<QByteArray>>(wirePieces(route));
    if (route.bytesPerTick <= 0) {
        for (const QByteArray &piece : std::as_const(*pieces))
            socket->write(piece);
        socket->disconnectFromHost();
        return;
    }
    auto *timer = new QTimer(socket);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, pieces] {
        if (pieces->isEmpty()) {
            timer->stop();
            socket->disconnectFromHost();
            return;
        }
        socket->write(pieces->takeFirst());
    });
    timer->start(route.tickMs);
}
