#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <memory>
#include <vector>

class QLocalSocket;

// One running instance per program folder among the users it serves: later starts find it and can
// pass a text message to it. On Linux root and the desktop user share the instance: it listens on a
// socket in the program folder, where only the folder's owner and root can make one, and on a
// public name in the abstract namespace, for copies that cannot write the folder. Only those two
// users (and the process's own) count as peers, checked by credentials: a name another local user
// holds is no instance of ours and stops nothing. Elsewhere a lock file in the user's temporary
// folder guards a per-user socket.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Instances for the same `programDir` exclude each other.
    explicit SingleInstance(const QString &programDir, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when a trusted peer runs the instance. Claims it for this process when none does.
    bool isRunning();
    // Delivers `message` to the running instance; true once it has been handed over.
    bool sendMessage(const QString &message, int timeoutMs);
    // Gives the claim up, so that a new instance can start while this one is still ending.
    void release();

    // Connects `socket` to the instance of the program in `programDir` that a trusted peer runs.
    static bool connectToRunning(QLocalSocket &socket, const QString &programDir, int timeoutMs);

signals:
    void messageReceived(const QString &message);

private:
    bool claim();
    void serve(std::unique_ptr<QLocalServer> server);
    void readMessage(QLocalSocket *socket);

    QString programDir;
    QLockFile lock;
    bool claimed = false;
    std::vector<std::unique_ptr<QLocalServer>> servers;
};
