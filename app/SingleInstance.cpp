#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QLocalSocket>

#ifdef Q_OS_LINUX
#include "platform/LinuxDesktopUser.h"
#endif

namespace {

#ifdef Q_OS_LINUX
// No file: root and the desktop user share it whatever their temporary folders, and it goes with
// the process that holds it.
constexpr QLocalServer::SocketOptions serverOptions = QLocalServer::AbstractNamespaceOption;
constexpr QLocalSocket::SocketOptions clientOptions = QLocalSocket::AbstractNamespaceOption;
#else
constexpr QLocalServer::SocketOptions serverOptions = QLocalServer::UserAccessOption;
constexpr QLocalSocket::SocketOptions clientOptions = QLocalSocket::NoOptions;
#endif

bool trusted([[maybe_unused]] const QLocalSocket &socket)
{
#ifdef Q_OS_LINUX
    return isTrustedPeer(socket.socketDescriptor());
#else
    return true; // the socket's access rights admit this user only
#endif
}

} // namespace

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

void SingleInstance::prepare(QLocalSocket &socket)
{
    socket.setSocketOptions(clientOptions);
}

bool SingleInstance::claim()
{
    if (server)
        return true;
    const bool withLock = !(serverOptions & QLocalServer::AbstractNamespaceOption);
    if (withLock) {
        if (!lock.tryLock(0))
            return false;
        // Holding the lock, any socket left under this name belongs to a dead instance.
        QLocalServer::removeServer(serverName);
    }
    server = std::make_unique<QLocalServer>();
    server->setSocketOptions(serverOptions);
    if (!server->listen(serverName)) {
        server.reset();
        lock.unlock();
        return false;
    }
    connect(server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server->nextPendingConnection()) {
            if (!trusted(*socket)) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
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
    prepare(socket);
    socket.connectToServer(serverName);
    // A name held by another local user is no instance of ours.
    if (!socket.waitForConnected(timeoutMs) || !trusted(socket))
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
