#include "tests/support/FakePlatform.h"

#include "platform/FileReplace.h"

void FakeNameServerStore::setNameServer(const QString &interfacePath, const QString &servers)
{
    writes << interfacePath + QLatin1Char('=') + servers;
    if (values.contains(interfacePath))
        values[interfacePath].first = servers;
}

void FakeNameServerStore::add(const QString &interfacePath, const QString &nameServer,
                              const QString &dhcpNameServer)
{
    order << interfacePath;
    values.insert(interfacePath, {nameServer, dhcpNameServer});
}

bool FakePlatform::writeHostsFile(const QStringList &sources)
{
    return writesSucceed && replaceFileWith(hostsFile, sources);
}

bool FakePlatform::copyFile(const QString &source, const QString &target)
{
    return writesSucceed && replaceFileWith(target, {source});
}
