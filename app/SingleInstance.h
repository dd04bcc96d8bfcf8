#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <memory>

// One running instance per program folder: the first listens on a local socket named after the
// folder; later ones find the name taken and can pass a text message to the first. On Linux the
// name lives in the abstract socket namespace, so root and the desktop user find the same instance,
// a killed one leaves nothing behind, and the socket serves only those two (checked by peer
// credentials). Elsewhere a lock file in the user's temporary folder guards a per-user socket.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `key` names the instance; instances with the same key exclude each other.
    explicit SingleInstance(const QString &key, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when another process holds the claim. Claims it for this process when it is free.
    bool isRunning();
    // Delivers `message` to the running instance; true once it has been handed over.
    bool sendMessage(const QString &message, int timeoutMs);
    // Gives the claim up, so that a new instance can start while this one is still ending.
    void release();

    // The key for the program in `programDir`.
    static QString keyFor(const QString &programDir);
    // Sets `socket` up to reach an instance by its key.
    static void prepare(QLocalSocket &socket);

signals:
    void messageReceived(const QString &message);

private:
    bool claim();
    void readMessage(QLocalSocket *socket);

    QString serverName;
    QLockFile lock;
    std::unique_ptr<QLocalServer> server;
};
