#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QTcpServer>
#include <QUrl>

// An HTTP/1.1 server on 127.0.0.1 at a port the system chooses, answering each path as told: one
// response per connection, then the connection closes. Unknown paths get a 404; a held route is
// never answered.
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
        bool chunked = false;   // else the body's size is announced
        int bytesPerTick = 0;   // 0: the body at once; else this many bytes every 20 ms
        qint64 closeAfter = -1; // close the connection after this many bytes of the body
        bool held = false;      // no answer
        QByteArray location;    // a Location header
    };

    HttpTestServer();

    bool isListening() const { return server.isListening(); }
    QString errorString() const { return server.errorString(); }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path));
    }
    void setRoute(const QString &path, const Route &route) { routes.insert(path, route); }
    // Requests of held routes received so far.
    int heldCount() const { return held; }

private:
    QTcpServer server;
    QHash<QString, Route> routes;
    int held = 0;
};

Q_DECLARE_METATYPE(HttpTestServer::Route)
