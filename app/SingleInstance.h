#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <memory>

// One running instance per program folder: the first holds a lock file and listens on a local
// socket; later ones find the lock taken and can pass a text message to the first.
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

signals:
    void messageReceived(const QString &message);

private:
    bool claim();
    void readMessage(QLocalSocket *socket);

    QString serverName;
    QLockFile lock;
    std::unique_ptr<QLocalServer> server;
};
