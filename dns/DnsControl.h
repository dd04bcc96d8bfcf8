#pragma once

#include <QString>
#include <QStringList>

class LogSink;
class Platform;

// Makes the local server the first DNS server of every network interface and puts the old
// servers back. What it replaced is kept in a roll-back file whose mere existence means that a
// change may be in force, so a change left by a run that never rolled back is undone later.
class DnsControl {
public:
    // `rollBackPath` is the roll-back file; the program uses "DNS" in its working directory.
    DnsControl(Platform &platform, LogSink &log, QString rollBackPath);

    // Puts 127.0.0.1 first on every interface that has its own name servers.
    void addDNSServer();
    // Restores the recorded name servers. A record goes once its servers read back as recorded
    // (or its interface is gone); the others stay in the roll-back file, which goes when empty.
    // True when nothing is left recorded.
    bool delDNSServer();
    // Flushes the resolver cache.
    void flushDNSCache();

private:
    void say(const QString &text, int level);
    bool restore(const QString &interfacePath, const QString &previous, const QStringList &interfaces);

    Platform &platform;
    LogSink &log;
    QString rollBackPath;
};
