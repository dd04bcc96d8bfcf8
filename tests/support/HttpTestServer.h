#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// An HTTP/1.1 server on 127.0.0.1 at a port the system chooses, answering each path as told: one
// response per connection, then the connection closes. Unknown paths get a 404.
class HttpTestServer {
public:
    struct Route {
        // A 200 answer with this body, the other fields as below.
        static Route serving(const QByteArray &body)
        {
            Route route;
            route.body = body;
            return route;
        }

        int status = 200;
        QByteArray body;
        bool contentLength = true; // announce the body's size (unless chunked)
        bool chunked = false;
        int bytesPerTick = 0; // 0: the body at once; else this many bytes every tickMs
        int tickMs = 20;
        qint64 closeAfter = -1; // close the connection after this many bytes of the body
        bool held = false;      // no answer until release()
        QByteArray location;    // a Location header
    };

    HttpTestServer();

    bool isListening() const { return server.isListening(); }
    QString errorString() const { return server.errorString(); }
    QUrl url(const QString &path) const;

    void setRoute(const QString &path, const Route &route);
    // Answers the held requests, and from now on answers at once.
    void release();

    int requestCount(const QString &path) const { return requests.count(path); }
    // Requests that wait for release().
    int heldCount() const { return int(held.size()); }

private:
    struct Pending {
        QPointer<QTcpSocket> socket;
        QString path;
    };

    void accept();
    void readRequest(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const QString &path);

    QTcpServer server;
    QHash<QString, Route> routes;
    QStringList requests;
    QList<Pending> held;
    bool released = false;
};

Q_DECLARE_METATYPE(HttpTestServer::Route)
