#include "dns/DnsControl.h"

#include "log/LogSink.h"
#include "platform/FileReplace.h"
#include "platform/NameServerStore.h"
#include "platform/Platform.h"

#include <QFile>
#include <QSaveFile>

namespace {

const QString localServer = QStringLiteral("127.0.0.1");

// Position of the local server among comma-separated servers, or -1.
int localServerIn(const QStringList &servers)
{
    for (int i = 0; i < servers.size(); ++i) {
        if (servers.at(i).trimmed() == localServer)
            return i;
    }
    return -1;
}

// The roll back takes a line's text up to its first blank as the interface and the rest as the
// previous servers, so neither may break the line and the interface may hold no blank.
bool recordable(const QString &interfacePath, const QString &previous)
{
    return !interfacePath.contains(QLatin1Char(' ')) && !interfacePath.contains(QLatin1Char('\n')) &&
           !previous.contains(QLatin1Char('\n'));
}

QString cantWrite(const QString &rollBackPath)
{
    return QStringLiteral("Can't set DNS! Can't write roll-back file '%1'").arg(rollBackPath);
}

} // namespace

DnsControl::DnsControl(Platform &platform, LogSink &log, QString rollBackPath)
    : platform(platform), log(log), rollBackPath(std::move(rollBackPath))
{
}

void DnsControl::say(const QString &text, int level)
{
    log.appendLog(text, level, false);
}

void DnsControl::addDNSServer()
{
    say(QStringLiteral("Setting primary DNS to 127.0.0.1..."), LogLevel::Begins);
    NameServerStore &store = platform.nameServers();
    const QStringList interfaces = store.interfaces();
    if (QFile::exists(rollBackPath)) {
        say(QStringLiteral("Primary DNS's already 127.0.0.1"), LogLevel::Succeeds);
        return;
    }
    // Unbuffered: each record is on disk before its change is made, also for a run killed then.
    QFile file(rollBackPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        say(cantWrite(rollBackPath), LogLevel::Fails);
        return;
    }
    for (const QString &interfacePath : interfaces) {
        const QString dhcpServers =
            store.dhcpNameServer(interfacePath).replace(QLatin1Char(' '), QLatin1Char(','));
        const QString previous = store.nameServer(interfacePath);
        if (previous.startsWith(localServer) || previous.contains(NameServerStore::absent))
            continue;
        if (!recordable(interfacePath, previous)) {
            say(QStringLiteral("Left DNS of %1 unchanged: its servers can't be recorded for the roll back")
                    .arg(interfacePath),
                LogLevel::Fails);
            continue;
        }
        const QByteArray line = (interfacePath + QLatin1Char(' ') + previous + QLatin1Char('\n')).toUtf8();
        if (file.write(line) != line.size()) {
            say(cantWrite(rollBackPath), LogLevel::Fails);
            return;
        }
        QString servers = localServer;
        if (!previous.isEmpty())
            servers += QLatin1Char(',') + previous;
        else if (!dhcpServers.contains(NameServerStore::absent))
            servers += QLatin1Char(',') + dhcpServers;
        store.setNameServer(interfacePath, servers);
        if (store.nameServer(interfacePath) != servers) {
            say(QStringLiteral("Can't set DNS! Please 'Run as administrator'"), LogLevel::Fails);
            return;
        }
    }
    file.close();
    say(QStringLiteral("Primary DNS set to 127.0.0.1"), LogLevel::Succeeds);
    platform.registerDns();
}

bool DnsControl::delDNSServer()
{
    say(QStringLiteral("Rolling back DNS..."), LogLevel::Begins);
    QFile file(rollBackPath);
    if (!openRegularFile(file, QIODevice::ReadOnly)) {
        say(QStringLiteral("DNS has not been changed!"), LogLevel::Succeeds);
        return true;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    const QStringList interfaces = platform.nameServers().interfaces();
    QByteArray kept; // the records whose servers did not take
    for (int i = 0; i < lines.size(); ++i) {
        // Only a line ended by a line feed is a whole record; a run killed while writing leaves a part.
        const bool ended = i + 1 < lines.size();
        if (!ended && lines.at(i).isEmpty())
            break;
        const QString line = QString::fromUtf8(lines.at(i));
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        if (!ended || blank < 0) {
            say(QStringLiteral("Skipped damaged line %1 of roll-back file '%2'")
                    .arg(QString::number(i + 1), rollBackPath),
                LogLevel::Fails);
            continue;
        }
        if (!restore(line.left(blank), line.mid(blank + 1), interfaces))
            kept += lines.at(i) + '\n';
    }
    platform.registerDns();
    if (!kept.isEmpty()) {
        // A record that cannot be rewritten stays whole, which is as sound: the servers of the lines
        // that took already read as recorded next time.
        QSaveFile rest(rollBackPath);
        if (rest.open(QIODevice::WriteOnly) && rest.write(kept) == kept.size())
            rest.commit();
        return false;
    }
    say(QStringLiteral("DNS rolled back!"), LogLevel::Succeeds);
    return file.remove();
}

// False when the servers did not take, so that the record stays for a run with rights.
bool DnsControl::restore(const QString &interfacePath, const QString &previous, const QStringList &interfaces)
{
    // Only the interfaces of the store are ever written, whatever the file names; a record of
    // another can never be restored.
    if (!interfaces.contains(interfacePath)) {
        say(QStringLiteral("Can't roll back DNS of %1: no such interface").arg(interfacePath),
            LogLevel::Fails);
        return true;
    }
    NameServerStore &store = platform.nameServers();
    const QString current = store.nameServer(interfacePath);
    if (current == previous)
        return true;
    QStringList servers = current.split(QLatin1Char(','));
    const int local = localServerIn(servers);
    // Someone else set the servers after us: theirs stay, only our entry goes.
    if (local < 0) {
        say(QStringLiteral("DNS of %1 was changed by another program; left as it is").arg(interfacePath),
            LogLevel::Succeeds);
        return true;
    }
    servers.removeAt(local);
    const QString wanted = local == 0 ? previous : servers.join(QLatin1Char(','));
    store.setNameServer(interfacePath, wanted);
    if (store.nameServer(interfacePath) != wanted) {
        say(QStringLiteral("Can't roll back DNS of %1! Please 'Run as administrator'").arg(interfacePath),
            LogLevel::Fails);
        return false;
    }
    if (local > 0)
        say(QStringLiteral("DNS of %1 was changed by another program; removed only 127.0.0.1 from it")
                .arg(interfacePath),
            LogLevel::Succeeds);
    return true;
}

void DnsControl::flushDNSCache()
{
    say(QStringLiteral("Flushing DNS cache..."), LogLevel::Begins);
    if (platform.flushDnsCache())
        say(QStringLiteral("DNS cache flushed!"), LogLevel::Succeeds);
    else
        say(QStringLiteral("Flushing DNS failed!"), LogLevel::Fails);
}
