#include "tests/support/FakePlatform.h"

#include "platform/FileReplace.h"

QString FakeNameServerStore::nameServer(const QString &interfacePath) const
{
    return values.value(interfacePath).nameServer;
}

QString FakeNameServerStore::dhcpNameServer(const QString &interfacePath) const
{
    return values.value(interfacePath).dhcpNameServer;
}

void FakeNameServerStore::setNameServer(const QString &interfacePath, const QString &servers)
{
    writes << interfacePath + QLatin1Char('=') + servers;
    if (refused.contains(interfacePath) || !values.contains(interfacePath))
        return;
    values[interfacePath].nameServer = servers;
}

void FakeNameServerStore::add(const QString &interfacePath, const QString &nameServer,
                              const QString &dhcpNameServer)
{
    order << interfacePath;
    values.insert(interfacePath, Values{nameServer, dhcpNameServer});
}

bool FakePlatform::startElevated(const QString &path)
{
    calls << QStringLiteral("startElevated ") + path;
    if (whileElevating)
        whileElevating();
    return elevationAccepted;
}

bool FakePlatform::writeHostsFile(const QStringList &sources)
{
    calls << QStringLiteral("writeHostsFile ") + sources.join(QLatin1Char(' '));
    return writesSucceed && replaceFileWith(hostsFile, sources);
}

bool FakePlatform::copyFile(const QString &source, const QString &target)
{
    calls << QStringLiteral("copyFile ") + source + QLatin1Char(' ') + target;
    return writesSucceed && replaceFileWith(target, {source});
}

void FakePlatform::startEditor(const QString &editor, const QString &argument, const QString &workingDir)
{
    calls << QStringLiteral("startEditor ") + editor + QLatin1Char(' ') + argument + QLatin1Char(' ') +
                 workingDir;
}

bool FakePlatform::flushDnsCache()
{
    calls << QStringLiteral("flushDnsCache");
    return flushSucceeds;
}

void FakePlatform::setStartupEntry(bool enabled, const QString &path)
{
    calls << QStringLiteral("setStartupEntry ") + (enabled ? QStringLiteral("on ") : QStringLiteral("off ")) +
                 path;
}
