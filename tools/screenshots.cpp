// Renders the main window with a running server after a dnsperf run, its test of a name, and the
// Options dialog of a first start in an empty folder, into PNG files for the README. Run under a real
// X server (scripts/screenshots.sh uses Xvfb); it touches no system file. Prints dnsperf's counts
// beside the graph's.
#include "app/MainWindow.h"
#include "dns/QueryStats.h"
#include "dns/UI_ServerPanel.h"
#include "options/UI_OptionsPanel.h"
#include "platform/LinuxPlatform.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

namespace {

void write(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

QByteArray query(quint16 id, const QByteArray &name, quint16 type)
{
    QByteArray datagram;
    datagram.append(char(id >> 8))
        .append(char(id & 0xff))
        .append("\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10);
    for (const QByteArray &label : name.split('.'))
        datagram.append(char(label.size())).append(label);
    datagram.append('\0').append(char(type >> 8)).append(char(type & 0xff)).append("\x00\x01", 2);
    return datagram;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool shoot(QWidget *widget, const QString &path)
{
    widget->raise();
    widget->activateWindow();
    wait(500);
    return widget->grab().save(path);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QString target =
        argc > 1 ? QDir(QString::fromLocal8Bit(argv[1])).absolutePath() : QDir::currentPath();

    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    QDir().mkpath(QStringLiteral("hosts"));
    write(QStringLiteral("hosts/ads.hosts"), "0.0.0.0 *.ads.example\n0.0.0.0 tracker.*.example\n");
    write(QStringLiteral("hosts/mine.hosts"), "127.0.0.1 *.dev.test\n::1 *.six.test\n");
    write(QStringLiteral("hosts/malware.hosts"), "0.0.0.0 *.malware.example\n");
    // The system's files are stand-ins inside the folder.
    LinuxPaths paths;
    paths.hostsFile = folder.filePath(QStringLiteral("hosts.system"));
    paths.etcDir = folder.path() + QLatin1Char('/');
    paths.resolvConf = folder.filePath(QStringLiteral("resolv.conf"));
    paths.userHome = folder.path();
    paths.resolvedRunDir = folder.filePath(QStringLiteral("resolved")); // absent: no cache to flush
    LinuxPlatform platform(paths);

    // The sample lists alone: no public list waits for a download the sandbox cannot make.
    Settings settings;
    SettingsStore store(QStringLiteral("settings"), platform.defaultHostsSource(), platform.defaultEditor());
    store.resetToDefaults(settings);
    for (const char *name : {"ads.hosts", "mine.hosts", "malware.hosts"})
        settings.hostsList.push_back(std::make_unique<HostsEntry>(HostsEntry{
            qstrcmp(name, "malware.hosts") != 0, QString::fromLatin1(name), QUrl(), QDateTime(), -1}));
    store.save(settings);

    MainWindow window(1, platform, nullptr, 0);
    window.resize(1000, 740);
    window.applyHostsFiles();

    QUdpSocket client;
    const quint16 port = window.serverPanelWidget()->serverSocket()->localPort();
    const QList<QPair<QByteArray, quint16>> questions{{"www.ads.example", 1},
                                                      {"tracker.eu.example", 1},
                                                      {"api.dev.test", 1},
                                                      {"host.six.test", 28},
                                                      {"www.wikipedia.org", 1}};
    quint16 id = 1;
    for (const auto &question : questions)
        client.writeDatagram(query(id++, question.first, question.second), QHostAddress::LocalHost, port);
    wait(500);

    // A few seconds of load, most of it for blocked names, for the graph.
    write(QStringLiteral("names"), "www.ads.example A\nwww.ads.example A\nwww.ads.example A\n"
                                   "tracker.eu.example A\ntracker.eu.example A\ncdn.ads.example A\n"
                                   "tracker.us.example A\napi.dev.test A\nhost.six.test AAAA\n"
                                   "www.wikipedia.org A\nwww.debian.org A\n");
    QProcess dnsperf;
    QEventLoop finished;
    QObject::connect(&dnsperf, &QProcess::finished, &finished, &QEventLoop::quit);
    dnsperf.start(QStringLiteral("dnsperf"),
                  {QStringLiteral("-s"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                   QString::number(port), QStringLiteral("-d"), QStringLiteral("names"), QStringLiteral("-l"),
                   QStringLiteral("5"), QStringLiteral("-Q"), QStringLiteral("4000")});
    if (dnsperf.waitForStarted())
        finished.exec();
    std::printf("%s", dnsperf.readAllStandardOutput().constData());
    wait(1500); // the graph's next second
    const QueryStats::Hour hour = window.serverPanelWidget()->queryStats().lastHour();
    std::printf("the graph: %llu answered by a rule, %llu passed on\n", qulonglong(hour.totalAnswered),
                qulonglong(hour.totalPassed));
    window.serverPanelWidget()->nameTestEdit()->setText(QStringLiteral("tracker.eu.example"));

    const bool mainShot = shoot(&window, target + QStringLiteral("/main-window.png"));
    UI_ServerPanel *panel = window.serverPanelWidget();
    const int boxBottom =
        qMax(panel->nameTestEdit()->geometry().bottom(), panel->nameTestVerdict()->geometry().bottom());
    const bool testShot = panel->grab(QRect(0, 0, panel->width(), boxBottom + 8))
                              .save(target + QStringLiteral("/name-test.png"));
    window.cleanUp();
    window.hide();

    // The Options dialog of a first start in an empty folder: the built-in lists, none fetched yet.
    QTemporaryDir empty;
    QDir::setCurrent(empty.path());
    MainWindow first(1, platform, nullptr, 0);
    UI_OptionsPanel *firstOptions = first.optionsPanelWidget();
    firstOptions->show();
    firstOptions->resize(900, 640);
    const bool optionsShot = shoot(firstOptions, target + QStringLiteral("/options.png"));
    firstOptions->hide();
    first.cleanUp();
    return mainShot && testShot && optionsShot ? 0 : 1;
}
