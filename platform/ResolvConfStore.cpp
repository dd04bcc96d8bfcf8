#include "platform/ResolvConfStore.h"

#include "platform/FileReplace.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>

namespace {

const QString nameserverKeyword = QStringLiteral("nameserver");

// The address of a "nameserver" line, or empty text for any other line.
QString serverOf(const QString &line)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    const QStringList fields = line.trimmed().split(blanks, Qt::SkipEmptyParts);
    if (fields.size() >= 2 && fields.first() == nameserverKeyword)
        return fields.at(1);
    return QString();
}

} // namespace

ResolvConfStore::ResolvConfStore(QString path) : path(std::move(path)) {}

QStringList ResolvConfStore::interfaces() const
{
    return {path};
}

QString ResolvConfStore::nameServer(const QString &interfacePath) const
{
    QFile file(interfacePath);
    if (interfacePath != path || !openRegularFile(file, QIODevice::ReadOnly | QIODevice::Text))
        return absent;
    QStringList servers;
    while (!file.atEnd()) {
        const QString server = serverOf(QString::fromUtf8(file.readLine()));
        if (!server.isEmpty())
            servers << server;
    }
    return servers.join(QLatin1Char(','));
}

QString ResolvConfStore::dhcpNameServer(const QString &) const
{
    return absent; // resolv.conf keeps no separate DHCP list
}

void ResolvConfStore::setNameServer(const QString &interfacePath, const QString &servers)
{
    QFile file(interfacePath);
    if (interfacePath != path || !openRegularFile(file, QIODevice::ReadOnly))
        return;
    const QByteArray old = file.readAll();
    file.close();

    QStringList wanted;
    for (const QString &server : servers.split(QLatin1Char(','))) {
        if (!server.trimmed().isEmpty())
            wanted << server.trimmed();
    }
    const auto lineOf = [](const QString &server) {
        return (nameserverKeyword + QLatin1Char(' ') + server + QLatin1Char('\n')).toUtf8();
    };

    // An old "nameserver" line that keeps its place in the new order stays byte for byte, the others
    // go, and new servers go in before the next kept line: putting a server first and taking it
    // away again gives back the very same file.
    QList<QByteArray> oldLines = old.split('\n');
    if (oldLines.last().isEmpty())
        oldLines.removeLast(); // the split's empty tail after the last line feed
    QList<QByteArray> lines;
    int next = 0;                // first server of `wanted` not yet placed
    qsizetype afterServers = -1; // where servers still unplaced at the end go
    for (const QByteArray &line : std::as_const(oldLines)) {
        const QString server = serverOf(QString::fromUtf8(line));
        if (server.isEmpty()) {
            lines << line + '\n';
            continue;
        }
        const qsizetype kept = wanted.indexOf(server, next);
        if (kept >= 0) {
            for (; next < kept; ++next)
                lines << lineOf(wanted.at(next));
            lines << line + '\n';
            ++next;
        }
        afterServers = lines.size();
    }
    QList<QByteArray> rest;
    for (; next < wanted.size(); ++next)
        rest << lineOf(wanted.at(next));
    const qsizetype restAt = afterServers < 0 ? lines.size() : afterServers;

    QByteArray content = (lines.mid(0, restAt) + rest + lines.mid(restAt)).join();
    if (!old.isEmpty() && !old.endsWith('\n'))
        content.chop(1); // the file ended without a line feed and still does
    if (content == old)
        return;
    QTemporaryFile staged;
    if (!staged.open() || staged.write(content) != content.size() || !staged.flush())
        return;
    replaceFileWith(path, {staged.fileName()});
}
