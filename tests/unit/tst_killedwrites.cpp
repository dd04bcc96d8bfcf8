// SIGKILL in the middle of the program's writes: the apply over the hosts file, the copy of a local
// list, the download of a list, the save of the settings. A child process (this program, started with
// --write-loop) writes two versions in turn, as fast as it can, until it is killed at a chosen moment; the
// file must then hold exactly one of the two, never a mix, a part or nothing.
#include "options/ListDownload.h"
#include "platform/LinuxPlatform.h"
#include "settings/SettingsStore.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/WholeFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <utility>

namespace {

const char writeLoopArgument[] = "--write-loop";
// The loop ends by itself after this long, should no one kill it.
constexpr int loopLimitMs = 60000;

// Two settings that differ in every row: the editor and each list's name and source.
Settings settingsVersion(char version)
{
    Settings settings;
    settings.generalSettings = {{SettingKey::server, QStringLiteral("Wildcard")},
                                {SettingKey::log, QStringLiteral("Detailed")},
                                {SettingKey::editor, QString(200'000, QLatin1Char(version))},
                                {SettingKey::launch, QStringLiteral("No")}};
    for (int i = 0; i < 300; ++i) {
        const QString name = QStringLiteral("%1-%2.hosts").arg(QLatin1Char(version)).arg(i);
        settings.hostsList.push_back(std::make_unique<HostsEntry>(HostsEntry{
            i % 2 == 0, name, QUrl(QStringLiteral("https://lists.example/") + name), QDateTime(), 7}));
    }
    return settings;
}

// Which version a settings file holds: 'A', 'B', or '?' for anything else.
char settingsFileVersion(const QString &file)
{
    SettingsStore store(file, QString(), QString());
    Settings loaded;
    if (store.loadFromFile(loaded) != SettingsStore::LoadResult::Loaded)
        return '?';
    for (const char version : {'A', 'B'}) {
        const Settings expected = settingsVersion(version);
        bool same = loaded.generalSettings == expected.generalSettings &&
                    loaded.hostsList.size() == expected.hostsList.size();
        for (std::size_t i = 0; same && i < loaded.hostsList.size(); ++i)
            same = loaded.hostsList[i]->name == expected.hostsList[i]->name &&
                   loaded.hostsList[i]->updateUrl == expected.hostsList[i]->updateUrl &&
                   loaded.hostsList[i]->selected == expected.hostsList[i]->selected;
        if (same)
            return version;
    }
    return '?';
}

// Downloads `source` over `target` as the updater does; true once the new list replaced it.
bool download(QNetworkAccessManager &manager, const QUrl &source, const QString &target)
{
    QNetworkReply *reply = manager.get(listRequest(source));
    auto *receiver = new ListDownload(reply, target);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const bool updated = receiver->finish() == UpdateOutcome::Updated;
    delete reply; // takes the receiver along
    return updated;
}

// The child: writes version A, says "ready", then B, A, B... until killed or out of time. FOLDER
// holds the versions' files; for a download it is the address the versions are served under.
int writeLoop(const QStringList &arguments)
{
    const QString kind = arguments.value(0);
    const QString target = arguments.value(1);
    const QString folder = arguments.value(2);
    QNetworkAccessManager manager;
    LinuxPaths paths;
    paths.hostsFile = target;
    LinuxPlatform platform(paths);
    SettingsStore store(target, QString(), QString());
    const Settings settings[] = {settingsVersion('A'), settingsVersion('B')};
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; clock.elapsed() < loopLimitMs; ++round) {
        const QString version = round % 2 == 0 ? QStringLiteral("A") : QStringLiteral("B");
        bool written = false;
        if (kind == QLatin1String("apply"))
            written = platform.writeHostsFile(
                {folder + QStringLiteral("/1") + version, folder + QStringLiteral("/2") + version});
        else if (kind == QLatin1String("copy"))
            written = platform.copyFile(folder + QStringLiteral("/1") + version, target);
        else if (kind == QLatin1String("download"))
            written = download(manager, QUrl(folder + QStringLiteral("/1") + version), target);
        else
            written = store.save(settings[round % 2]);
        if (!written)
            return 2;
        if (round == 0) {
            fputs("ready\n", stdout);
            fflush(stdout);
        }
    }
    return 0;
}

} // namespace

class TestKilledWrites : public QObject {
    Q_OBJECT

private slots:
    void killedWhileWriting_data();
    void killedWhileWriting();
};

void TestKilledWrites::killedWhileWriting_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("killAfterMs"); // after the first version is whole
    for (const char *kind : {"apply", "copy", "download", "settings"}) {
        for (int ms : {0, 1, 3, 7, 15, 30, 60, 120})
            QTest::addRow("%s, killed after %d ms", kind, ms) << QString::fromLatin1(kind) << ms;
    }
}

void TestKilledWrites::killedWhileWriting()
{
    QFETCH(QString, kind);
    QFETCH(int, killAfterMs);

    QTemporaryDir dir;
    const QString target = dir.filePath(kind == QLatin1String("settings") ? QStringLiteral("settings")
                                                                          : QStringLiteral("hosts"));
    // Several megabytes per version, of different lengths, so that a part of either shows.
    const QByteArray lists[] = {QByteArray("0.0.0.0 *.first-a.test\n").repeated(150'000),
                                QByteArray("0.0.0.0 *.second-a.test\n").repeated(50'000),
                                QByteArray("0.0.0.0 *.first-b.test\n").repeated(110'000),
                                QByteArray("0.0.0.0 *.second-b.test\n").repeated(70'000)};
    QVERIFY(writeWholeFile(dir.filePath(QStringLiteral("1A")), lists[0]));
    QVERIFY(writeWholeFile(dir.filePath(QStringLiteral("2A")), lists[1]));
    QVERIFY(writeWholeFile(dir.filePath(QStringLiteral("1B")), lists[2]));
    QVERIFY(writeWholeFile(dir.filePath(QStringLiteral("2B")), lists[3]));
    const QByteArray applied[] = {lists[0] + lists[1], lists[2] + lists[3]};
    const QByteArray copied[] = {lists[0], lists[2]};
    // The lists served in pieces, so that a download lasts a while.
    HttpTestServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    for (const auto &[path, body] : {std::pair{"/1A", lists[0]}, std::pair{"/1B", lists[2]}}) {
        HttpTestServer::Route route;
        route.body = body;
        route.bytesPerTick = 256 * 1024;
        route.tickMs = 10;
        server.setRoute(QString::fromLatin1(path), route);
    }
    const QString served = kind == QLatin1String("download") ? server.url(QString()).toString() : dir.path();

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QString::fromLatin1(writeLoopArgument), kind, target, served});
    QVERIFY(child.waitForStarted(5000));
    // The event loop runs meanwhile: the server answers the child's requests.
    QVERIFY2(QTest::qWaitFor([&child] { return child.canReadLine() || child.state() != QProcess::Running; },
                             30000) &&
                 child.readLine() == "ready\n",
             qPrintable(QString::fromLocal8Bit(child.readAllStandardError())));
    QTest::qWait(killAfterMs);
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    if (kind == QLatin1String("settings")) {
        QVERIFY(QStringLiteral("AB").contains(QLatin1Char(settingsFileVersion(target))));
        return;
    }
    const QByteArray content = readWholeFile(target);
    const QByteArray *versions = kind == QLatin1String("apply") ? applied : copied;
    QVERIFY2(content == versions[0] || content == versions[1],
             qPrintable(QStringLiteral("%1 bytes, neither version").arg(content.size())));
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], writeLoopArgument) == 0)
        return writeLoop(application.arguments().mid(2));
    TestKilledWrites test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killedwrites.moc"
