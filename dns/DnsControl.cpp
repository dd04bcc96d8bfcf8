#include "dns/DnsControl.h"

#include "log/LogSink.h"
#include "platform/FileReplace.h"
#include "platform/NameServerStore.h"
#include "platform/Platform.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr int maxReassertsPerMinute = 5;
constexpr qint64 minuteMs = 60 * 1000;

// Position of the local server `local` among comma-separated servers, or -1.
int localServerIn(const QStringList &servers, const QString &local)
{
    for (int i = 0; i < servers.size(); ++i) {
        if (servers.at(i).trimmed() == local)
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

// The local server, then the interface's own servers, or where it has none those DHCP gave it.
QString withLocalFirst(const QString &local, const QString &own, QString dhcp)
{
    if (!own.isEmpty())
        return local + QLatin1Char(',') + own;
    if (!dhcp.contains(NameServerStore::absent))
        return local + QLatin1Char(',') + dhcp.replace(QLatin1Char(' '), QLatin1Char(','));
    return local;
}

QString cantWrite(const QString &rollBackPath)
{
    return QStringLiteral("Can't set DNS! Can't write roll-back file '%1'").arg(rollBackPath);
}

} // namespace

DnsControl::DnsControl(Platform &platform, LogSink &log, QString rollBackPath)
    : platform(platform), log(log), rollBackPath(std::move(rollBackPath))
{
    clock.start();
}

DnsControl::~DnsControl()
{
    platform.watchNameServers(nullptr); // its calls would reach this object
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
        pointed = true;
        keepFirst();
        return;
    }
    // Unbuffered: each record is on disk before its change is made, also for a run killed then.
    QFile file(rollBackPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        say(cantWrite(rollBackPath), LogLevel::Fails);
        return;
    }
    for (const QString &interfacePath : interfaces) {
        const QString previous = store.nameServer(interfacePath);
        const QString local = store.localServer(interfacePath);
        if (previous.startsWith(local) || previous.contains(NameServerStore::absent))
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
        const QString servers = withLocalFirst(local, previous, store.dhcpNameServer(interfacePath));
        store.setNameServer(interfacePath, servers);
        if (store.nameServer(interfacePath) != servers) {
            say(QStringLiteral("Can't set DNS! Please 'Run as administrator'"), LogLevel::Fails);
            return;
        }
    }
    file.close();
    say(QStringLiteral("Primary DNS set to 127.0.0.1"), LogLevel::Succeeds);
    platform.registerDns();
    pointed = true;
    keepFirst();
}

void DnsControl::keepFirst()
{
    reasserts.clear();
    platform.watchNameServers([this] { reassert(); });
}

void DnsControl::reassert()
{
    QFile file(rollBackPath);
    if (!openRegularFile(file, QIODevice::ReadOnly))
        return; // rolled back meanwhile
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    NameServerStore &store = platform.nameServers();
    QList<std::pair<QString, QString>> taken; // interface, the servers another program set
    // Whole lines only; a damaged one is left for the roll back to report.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const qsizetype blank = lines.at(i).indexOf(' ');
        if (blank < 0)
            continue;
        const QString interfacePath = QString::fromUtf8(lines.at(i).left(blank));
        const QString current = store.nameServer(interfacePath);
        if (current.startsWith(store.localServer(interfacePath)) ||
            current.contains(NameServerStore::absent) || !recordable(interfacePath, current))
            continue;
        lines[i] = (interfacePath + QLatin1Char(' ') + current).toUtf8();
        taken << std::pair(interfacePath, current);
    }
    if (taken.isEmpty())
        return;
    if (!mayReassert()) {
        say(QStringLiteral("Another program keeps changing the DNS; 127.0.0.1 is no longer put first again"),
            LogLevel::Fails);
        platform.watchNameServers(nullptr);
        return;
    }
    // The record first, as for the first change: a run killed now rolls back to the new servers.
    if (!writeRecord(lines.join('\n'))) {
        say(cantWrite(rollBackPath), LogLevel::Fails);
        platform.watchNameServers(nullptr);
        return;
    }
    for (const auto &[interfacePath, current] : std::as_const(taken)) {
        const QString servers =
            withLocalFirst(store.localServer(interfacePath), current, store.dhcpNameServer(interfacePath));
        store.setNameServer(interfacePath, servers);
        if (store.nameServer(interfacePath) != servers) {
            say(QStringLiteral("Can't set DNS! Please 'Run as administrator'"), LogLevel::Fails);
            platform.watchNameServers(nullptr);
            return;
        }
        say(QStringLiteral("DNS of %1 was changed by another program; 127.0.0.1 put first again")
                .arg(interfacePath),
            LogLevel::Succeeds);
    }
    platform.registerDns();
}

bool DnsControl::mayReassert()
{
    const qint64 now = clock.elapsed();
    while (!reasserts.isEmpty() && now - reasserts.first() >= minuteMs)
        reasserts.removeFirst();
    if (reasserts.size() >= maxReassertsPerMinute)
        return false;
    reasserts << now;
    return true;
}

bool DnsControl::writeRecord(const QByteArray &content)
{
    QSaveFile file(rollBackPath);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

bool DnsControl::delDNSServer()
{
    say(QStringLiteral("Rolling back DNS..."), LogLevel::Begins);
    platform.watchNameServers(nullptr); // the roll back's own writes, and any after it, are not to be undone
    pointed = false;
    QFile file(rollBackPath);
    if (!QFileInfo::exists(rollBackPath)) {
        say(QStringLiteral("DNS has not been changed!"), LogLevel::Succeeds);
        return true;
    }
    // A record this user cannot read is still a change in force: it stays for a run that can.
    if (!openRegularFile(file, QIODevice::ReadOnly)) {
        say(QStringLiteral("Can't roll back DNS! Can't read roll-back file '%1'").arg(rollBackPath),
            LogLevel::Fails);
        return false;
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
        writeRecord(kept);
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
    const int local = localServerIn(servers, store.localServer(interfacePath));
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
