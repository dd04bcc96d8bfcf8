#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QLocalSocket>

SingleInstance::SingleInstance(const QString &key, QObject *parent)
    : QObject(parent), serverName(key), lock(QDir::temp().filePath(key + QStringLiteral(".lock")))
{
    // A lock is stale only when its owner has died (checked by process id), never by age.
    lock.setStaleLockTime(0);
    claim();
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::keyFor(const QString &programDir)
{
    const QByteArray hash =
        QCryptographicHash::hash(QDir(programDir).canonicalPath().toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("tarnowlock-") + QString::fromLatin1(hash.left(16));
}

bool SingleInstance::claim()
{
    if (server)
        return true;
    if (!lock.tryLock(0))
        return false;
    // Holding the lock, any socket left under this name belongs to a dead instance.
    QLocalServer::removeServer(serverName);
    server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(serverName)) {
        server.reset();
        lock.unlock();
        return false;
    }
    connect(server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        }
    });
    return true;
}

void SingleInstance::readMessage(QLocalSocket *socket)
{
    QDataStream stream(socket);
    stream.startTransaction();
    QString message;
    stream >> message;
    if (!stream.commitTransaction())
        return;               // the rest is still on its way
    socket->write("\x01", 1); // acknowledge, so the sender knows it was delivered
    socket->flush();
    emit messageReceived(message);
}

bool SingleInstance::isRunning()
{
    return !claim();
}

bool SingleInstance::sendMessage(const QString &message, int timeoutMs)
{
    if (server)
        return false; // this is the running instance
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out << message;
    socket.write(data);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // Delivered once the receiver acknowledges.
    return socket.waitForReadyRead(timeoutMs) && socket.read(1) == "\x01";
}

void SingleInstance::release()
{
    if (server) {
        server->close();
        server.reset();
    }
    lock.unlock();
}
