#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

class LogSink;
class Platform;

// Makes the local server the first DNS server of every network interface and puts the old
// servers back. What it replaced is kept in a roll-back file whose mere existence means that a
// change may be in force, so a change left by a run that never rolled back is undone later.
// While the change is in force, the name servers are watched so that it stays so.
class DnsControl {
public:
    // `rollBackPath` is the roll-back file; the program uses "DNS" in its working directory.
    DnsControl(Platform &platform, LogSink &log, QString rollBackPath);
    ~DnsControl();
    DnsControl(const DnsControl &) = delete;
    DnsControl &operator=(const DnsControl &) = delete;

    // Puts 127.0.0.1 first on every interface that has its own name servers, and keeps it there.
    void addDNSServer();
    // Restores the recorded name servers. A record goes once its servers read back as recorded
    // (or its interface is gone); the others stay in the roll-back file, which goes when empty.
    // True when nothing is left recorded.
    bool delDNSServer();
    // Flushes the resolver cache.
    void flushDNSCache();
    // True from a change that took (or was found in force) until the next roll back.
    bool pointsHere() const { return pointed; }

private:
    void say(const QString &text, int level);
    bool restore(const QString &interfacePath, const QString &previous, const QStringList &interfaces);
    // Has the platform call reassert() while the change is in force.
    void keepFirst();
    // Where another program has set servers without 127.0.0.1 first, records them for the roll back
    // and puts 127.0.0.1 first again. A sixth time within a minute it gives up and stops watching.
    void reassert();
    // False once 127.0.0.1 was put first again too often lately; else counts this time.
    bool mayReassert();
    bool writeRecord(const QByteArray &content);

    Platform &platform;
    LogSink &log;
    QString rollBackPath;
    QElapsedTimer clock;
    QList<qint64> reasserts; // when 127.0.0.1 was put first again, within the last minute
    bool pointed = false;
};
