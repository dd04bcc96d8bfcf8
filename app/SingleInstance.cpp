#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>

#ifdef Q_OS_LINUX
#include "platform/LinuxDesktopUser.h"
#include "platform/LinuxLocalSocket.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

constexpr int probeTimeoutMs = 1000;

// The name of the program in `programDir`, the same for every user.
QString keyFor(const QString &programDir)
{
    const QByteArray hash =
        QCryptographicHash::hash(QDir(programDir).canonicalPath().toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("tarnowlock-") + QString::fromLatin1(hash.left(16));
}

#ifdef Q_OS_LINUX
const QString socketName = QStringLiteral("instance");

// The socket in the folder first, then the public name. In the working directory the socket's path
// is relative, so it stays in the folder that was entered whatever is renamed since.
QList<QByteArray> addressesFor(const QString &programDir)
{
    const QString folder = QDir(programDir).canonicalPath();
    const QString path = folder == QDir::currentPath() ? socketName : folder + QLatin1Char('/') + socketName;
    return {QFile::encodeName(path), QByteArray(1, '\0') + keyFor(programDir).toUtf8()};
}

// True when the peer of `descriptor` listens on an instance's own socket: connect follows a link
// that the folder's owner may have put in its place, to a socket of some other program of root's.
bool instanceSocket(int descriptor, const QByteArray &address)
{
    const QByteArray bound = peerAddress(descriptor);
    return address.startsWith('\0')
               ? bound == address
               : bound == QFile::encodeName(socketName) || bound.endsWith('/' + socketName.toUtf8());
}

// A descriptor connected to the trusted peer listening on `address`, or -1; `other` tells whether
// a process that is no trusted peer listens there, `stale` whether a socket file is left unserved.
int connectTrusted(const QByteArray &address, int timeoutMs, bool *other = nullptr, bool *stale = nullptr)
{
    const int descriptor = connectLocal(address, timeoutMs);
    if (stale)
        *stale = descriptor < 0 && errno == ECONNREFUSED && !address.startsWith('\0');
    const bool trusted = descriptor >= 0 && isTrustedPeer(descriptor) && instanceSocket(descriptor, address);
    if (other)
        *other = descriptor >= 0 && !trusted;
    if (descriptor >= 0 && !trusted)
        ::close(descriptor);
    return trusted ? descriptor : -1;
}

// Serialises the claims of the starts in one folder, so that one of them alone replaces a socket
// a killed copy left. Another user may hold the lock too: that delays a start, never stops it.
class FolderLock {
public:
    explicit FolderLock(const QString &folder)
        : descriptor(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        QElapsedTimer clock;
        clock.start();
        while (descriptor >= 0 && ::flock(descriptor, LOCK_EX | LOCK_NB) != 0 && clock.elapsed() < 2000)
            QThread::msleep(20);
    }
    ~FolderLock()
    {
        if (descriptor >= 0)
            ::close(descriptor);
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    int descriptor;
};
#endif

#ifdef Q_OS_WIN
// Windows lets a process take the foreground only when the foreground one allows it: this start,
// which the user has just made, lets the running instance (the pipe's server) bring its window up.
void allowForeground(const QLocalSocket &socket)
{
    ULONG server = 0;
    const auto pipe = reinterpret_cast<HANDLE>(socket.socketDescriptor());
    AllowSetForegroundWindow(GetNamedPipeServerProcessId(pipe, &server) ? server : ASFW_ANY);
}
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

SingleInstance::SingleInstance(const QString &programDir, QObject *parent)
    : QObject(parent), programDir(programDir),
      lock(QDir::temp().filePath(keyFor(programDir) + QStringLiteral(".lock")))
{
    // A lock is stale only when its owner has died (checked by process id), never by age.
    lock.setStaleLockTime(0);
    claim();
}

SingleInstance::~SingleInstance()
{
    release();
}

bool SingleInstance::connectToRunning(QLocalSocket &socket, const QString &programDir, int timeoutMs)
{
#ifdef Q_OS_LINUX
    for (const QByteArray &address : addressesFor(programDir)) {
        if (const int descriptor = connectTrusted(address, timeoutMs); descriptor >= 0)
            return socket.setSocketDescriptor(descriptor);
    }
    return false;
#else
    socket.connectToServer(keyFor(programDir));
    return socket.waitForConnected(timeoutMs);
#endif
}

bool SingleInstance::claim()
{
    if (claimed)
        return true;
#ifdef Q_OS_LINUX
    const FolderLock folderLock(programDir);
    const QList<QByteArray> addresses = addressesFor(programDir);
    QList<bool> free;
    for (const QByteArray &address : addresses) {
        bool other = false;
        bool stale = false;
        if (const int descriptor = connectTrusted(address, probeTimeoutMs, &other, &stale); descriptor >= 0) {
            ::close(descriptor);
            return false;
        }
        if (stale)
            ::unlink(address.constData()); // left by a killed copy
        if (other)
            std::fprintf(stderr, "Tarnowlock: another local user holds '%s'; going on without it\n",
                         address.startsWith('\0') ? address.mid(1).constData() : address.constData());
        free << !other;
    }
    // A folder the process cannot write leaves the public name alone to be found by.
    for (int i = 0; i < addresses.size(); ++i) {
        const int descriptor = free.at(i) ? listenLocal(addresses.at(i)) : -1;
        if (descriptor < 0)
            continue;
        auto server = std::make_unique<QLocalServer>();
        if (server->listen(descriptor))
            serve(std::move(server));
        else
            ::close(descriptor);
    }
#else
    if (!lock.tryLock(0))
        return false;
    const QString name = keyFor(programDir);
    // Holding the lock, any socket left under this name belongs to a dead instance.
    QLocalServer::removeServer(name);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(name)) {
        lock.unlock();
        return false;
    }
    serve(std::move(server));
#endif
    claimed = true;
    return true;
}

void SingleInstance::serve(std::unique_ptr<QLocalServer> server)
{
    QLocalServer *listening = server.get();
    connect(listening, &QLocalServer::newConnection, this, [this, listening] {
        while (QLocalSocket *socket = listening->nextPendingConnection()) {
            if (!trusted(*socket)) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        }
    });
    servers.push_back(std::move(server));
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
    QLocalSocket socket;
    if (claimed || !connectToRunning(socket, programDir, timeoutMs))
        return false; // this is the running instance, or none runs
#ifdef Q_OS_WIN
    allowForeground(socket);
#endif
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
    // Closing a server removes its socket file.
    servers.clear();
    claimed = false;
    lock.unlock();
}
