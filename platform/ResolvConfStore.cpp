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
    if (interfacePath != path || !file.open(QIODevice::ReadOnly | QIODevice::Text))
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
    if (interfacePath != path || !file.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();

    QByteArray newServers;
    for (const QString &server : servers.split(QLatin1Char(','), Qt::SkipEmptyParts))
        newServers += nameserverKeyword.toUtf8() + ' ' + server.trimmed().toUtf8() + '\n';

    // The new servers take the place of the first old one; other lines stay where they were.
    QByteArray content;
    bool placed = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (i == lines.size() - 1 && line.isEmpty())
            break; // the split's empty tail after the last line feed
        if (!serverOf(QString::fromUtf8(line)).isEmpty()) {
            if (!placed)
                content += newServers;
            placed = true;
            continue;
        }
        content += line + '\n';
    }
    if (!placed)
        content += newServers;

    QTemporaryFile staged;
    if (!staged.open() || staged.write(content) != content.size() || !staged.flush())
        return;
    replaceFileWith(path, {staged.fileName()});
}
