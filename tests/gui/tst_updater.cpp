#include "options/DownloadProgressBar.h"
#include "options/HostsColumns.h"
#include "options/UI_OptionsPanel.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ImmutablePath.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/RecordingLog.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <limits>
#include <memory>

using Routes = QHash<QString, HttpTestServer::Route>;
Q_DECLARE_METATYPE(Routes)

namespace {

const QByteArray oldContent("127.0.0.1 old.example\n");
const QDateTime earlier(QDate(2024, 1, 2), QTime(10, 0));
const QString earlierText = QStringLiteral("2024-01-02");
const QString blue = QColor(153, 206, 235).name(QColor::HexArgb);

// A hosts list of the test: its file in ./hosts/ and its settings.
struct ListSpec {
    QString name;
    QUrl source;
    int frequency = -1;
    QDateTime lastUpdate = earlier;
    bool selected = false;
};

QString started(const QString &name)
{
    return QStringLiteral("1 Start updating '%1'").arg(name);
}

QString updated(const QString &name)
{
    return QStringLiteral("2 '%1' updated successfully!").arg(name);
}

QString unsaved(const QString &name)
{
    return QStringLiteral("3 Unable to save '%1'! Please 'Run as administrator'").arg(name);
}

QString canceled(const QString &name)
{
    return QStringLiteral("3 Update of '%1' canceled!").arg(name);
}

QString failed(const QString &name)
{
    return QStringLiteral("3 Update of '%1' failed!").arg(name);
}

QString failureBox(const QString &name)
{
    return QStringLiteral("warning||Something went wrong while updating <i><b>%1</b></i>.<br/>Try later.|Ok")
        .arg(name);
}

QString today()
{
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

QByteArray listBody(const QString &name, int lines)
{
    QByteArray body;
    for (int i = 0; i < lines; ++i)
        body += "0.0.0.0 " + name.toUtf8() + '.' + QByteArray::number(i) + ".example\n";
    return body;
}

const auto serving = HttpTestServer::Route::serving;

HttpTestServer::Route held(const QByteArray &body)
{
    HttpTestServer::Route route = serving(body);
    route.held = true;
    return route;
}

HttpTestServer::Route slow(const QByteArray &body)
{
    HttpTestServer::Route route = serving(body);
    route.bytesPerTick = 1024;
    route.tickMs = 50;
    return route;
}

HttpTestServer::Route failing(int status)
{
    HttpTestServer::Route route = serving("<html>error page</html>");
    route.status = status;
    return route;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString listPath(const QString &name)
{
    return QStringLiteral("hosts/") + name;
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void progressBarValues_data();
    void progressBarValues();
    void downloadByHand_data();
    void downloadByHand();
    void progressShown_data();
    void progressShown();
    void cancelAbortsDownloads();
    void closingKeepsDownloads();
    void secondClickIgnored();
    void emptySourceDoesNothing();
    void unwritableTarget_data();
    void unwritableTarget();
    void refusedTarget_data();
    void refusedTarget();
    void automaticUpdate_data();
    void automaticUpdate();
    void failureBoxOnlyByHand_data();
    void failureBoxOnlyByHand();
    void updateAll();
    void manyListsAtOnce();
    void flagsBeyond32Rows();
    void reloadWhileDownloading_data();
    void reloadWhileDownloading();
    void destroyedWhileDownloading();

private:
    // Writes the lists' files and builds the dialog showing exactly them, with their settings.
    void makePanel(const QList<ListSpec> &lists);
    QUrl local(const QString &name, const QByteArray &content);
    DownloadProgressBar *bar(int row) const;
    // The Source cell: "bar" while covered, else its item's text.
    QString sourceCell(int row) const;
    QString sourceBackground(int row) const;
    QAbstractButton *syncButton(int row) const;
    QString dateText(int row) const { return syncButton(row)->text(); }
    QAbstractButton *dialogButton(QDialogButtonBox::StandardButton which) const;
    QStringList hostsFolder() const;

    FakePlatform platform;
    std::unique_ptr<QTemporaryDir> dir;
    QString previousDir;
    std::unique_ptr<HttpTestServer> server;
    std::unique_ptr<MessageBoxAnswerer> answerer;
    RecordingLog log;
    std::unique_ptr<UI_OptionsPanel> panel;
};

void TestUpdater::initTestCase()
{
    Q_INIT_RESOURCE(resources);
    previousDir = QDir::currentPath();
}

void TestUpdater::cleanupTestCase()
{
    QDir::setCurrent(previousDir);
}

void TestUpdater::init()
{
    // The dialog works with relative paths ("settings", ./hosts/): a fresh folder for each test.
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(QDir::setCurrent(dir->path()));
    QVERIFY(QDir().mkdir(QStringLiteral("hosts")));
    QVERIFY(QDir().mkdir(QStringLiteral("sources")));
    server = std::make_unique<HttpTestServer>();
    QVERIFY2(server->isListening(), qPrintable(server->errorString()));
    answerer = std::make_unique<MessageBoxAnswerer>(QMessageBox::Ok);
    log.lines.clear();
    platform.calls.clear();
    platform.writesSucceed = true;
}

void TestUpdater::cleanup()
{
    panel.reset();
    server.reset();
    answerer.reset();
    QVERIFY(QDir::setCurrent(previousDir));
    dir.reset();
}

void TestUpdater::makePanel(const QList<ListSpec> &lists)
{
    QStringList names;
    for (const ListSpec &list : lists) {
        QVERIFY(writeFile(listPath(list.name), oldContent));
        names << list.name;
    }
    panel = std::make_unique<UI_OptionsPanel>(platform);
    panel->setLogPanel(&log);
    panel->loadHostsList();
    // The built-in lists have no file here and leave the table, and with them their public sources.
    QStringList shown;
    for (const auto &entry : panel->hostsList)
        shown << entry->name;
    QCOMPARE(shown, names);
    for (int row = 0; row < lists.size(); ++row) {
        HostsEntry &entry = *panel->hostsList[row];
        entry.updateUrl = lists[row].source;
        entry.updateFrequency = lists[row].frequency;
        entry.lastUpdate = lists[row].lastUpdate;
        entry.selected = lists[row].selected;
    }
    panel->loadHostsList();
    panel->show();
}

QUrl TestUpdater::local(const QString &name, const QByteArray &content)
{
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("sources/") + name);
    return writeFile(path, content) ? QUrl::fromLocalFile(path) : QUrl();
}

DownloadProgressBar *TestUpdater::bar(int row) const
{
    return qobject_cast<DownloadProgressBar *>(panel->hostsTable->cellWidget(row, HostsColumn::Source));
}

QString TestUpdater::sourceCell(int row) const
{
    if (bar(row))
        return QStringLiteral("bar");
    const QTableWidgetItem *item = panel->hostsTable->item(row, HostsColumn::Source);
    return item ? item->text() : QStringLiteral("(no item)");
}

QString TestUpdater::sourceBackground(int row) const
{
    const QTableWidgetItem *item = panel->hostsTable->item(row, HostsColumn::Source);
    if (!item)
        return QStringLiteral("(no item)");
    const QColor colour = item->background().color();
    return colour.alpha() == 0 ? QStringLiteral("clear") : colour.name(QColor::HexArgb);
}

QAbstractButton *TestUpdater::syncButton(int row) const
{
    return qobject_cast<QAbstractButton *>(panel->hostsTable->cellWidget(row, HostsColumn::LastUpdate));
}

QAbstractButton *TestUpdater::dialogButton(QDialogButtonBox::StandardButton which) const
{
    const auto *box = panel->findChild<QDialogButtonBox *>();
    return box ? box->button(which) : nullptr;
}

QStringList TestUpdater::hostsFolder() const
{
    return QDir(QStringLiteral("hosts"))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void TestUpdater::progressBarValues_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");

    const qint64 fourGiB = qint64(1) << 32;
    QTest::newRow("nothing yet, no size") << qint64(0) << qint64(-1) << 0 << 0;
    QTest::newRow("no size: busy") << qint64(5000) << qint64(-1) << 0 << 5000;
    QTest::newRow("half") << qint64(500) << qint64(1000) << 1000 << 500;
    QTest::newRow("all") << qint64(1000) << qint64(1000) << 1000 << 1000;
    QTest::newRow("empty body") << qint64(0) << qint64(0) << 0 << 0;
    QTest::newRow("past 32 bits, scaled alike")
        << fourGiB << 2 * fourGiB << int(fourGiB >> 2) << int(fourGiB >> 3);
    QTest::newRow("past 32 bits, no size") << fourGiB << qint64(-1) << 0 << std::numeric_limits<int>::max();
}

void TestUpdater::progressBarValues()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(int, maximum);
    QFETCH(int, value);

    DownloadProgressBar progress;
    // Busy from the start.
    QCOMPARE(progress.minimum(), 0);
    QCOMPARE(progress.maximum(), 0);
    QCOMPARE(progress.value(), 0);
    progress.updateProgress(received, total);
    QCOMPARE(progress.minimum(), 0);
    QCOMPARE(progress.maximum(), maximum);
    QCOMPARE(progress.value(), value);
}

void TestUpdater::downloadByHand_data()
{
    QTest::addColumn<Routes>("routes");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QStringList>("boxes");

    const QByteArray body = listBody(QStringLiteral("a"), 500);
    const QString name = QStringLiteral("a.hosts");
    HttpTestServer::Route route = serving(body);

    QTest::newRow("with Content-Length")
        << Routes{{QStringLiteral("/a"), route}} << body << updated(name) << today() << QStringList();
    route.contentLength = false;
    QTest::newRow("without Content-Length")
        << Routes{{QStringLiteral("/a"), route}} << body << updated(name) << today() << QStringList();
    QTest::newRow("404") << Routes{{QStringLiteral("/a"), failing(404)}} << oldContent << failed(name)
                         << earlierText << QStringList{failureBox(name)};
    route = serving(body);
    route.closeAfter = body.size() / 2;
    QTest::newRow("closes half-way") << Routes{{QStringLiteral("/a"), route}} << oldContent << failed(name)
                                     << earlierText << QStringList{failureBox(name)};
    HttpTestServer::Route moved;
    moved.status = 301;
    moved.location = "/elsewhere/a";
    QTest::newRow("redirect") << Routes{{QStringLiteral("/a"), moved},
                                        {QStringLiteral("/elsewhere/a"), serving(body)}}
                              << body << updated(name) << today() << QStringList();
}

void TestUpdater::downloadByHand()
{
    QFETCH(Routes, routes);
    QFETCH(QByteArray, content);
    QFETCH(QString, outcome);
    QFETCH(QString, date);
    QFETCH(QStringList, boxes);

    for (auto it = routes.cbegin(); it != routes.cend(); ++it)
        server->setRoute(it.key(), it.value());
    const QUrl source = server->url(QStringLiteral("/a"));
    makePanel({{QStringLiteral("a.hosts"), source, 7, earlier, true}});
    if (QTest::currentTestFailed())
        return;

    syncButton(0)->click();
    // Covered at once; the rest comes with the reply.
    QCOMPARE(sourceCell(0), QStringLiteral("bar"));
    QCOMPARE(log.lines, QStringList{started(QStringLiteral("a.hosts"))});
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 2, 10000);

    QCOMPARE(log.lines.last(), outcome);
    QCOMPARE(answerer->shown, boxes);
    QCOMPARE(readFile(listPath(QStringLiteral("a.hosts"))), content);
    QCOMPARE(hostsFolder(), QStringList{QStringLiteral("a.hosts")});
    QCOMPARE(dateText(0), date);
    QCOMPARE(panel->hostsList.front()->lastUpdate.date().toString(QStringLiteral("yyyy-MM-dd")), date);
    // The Source item is back, coloured as its selected row.
    QCOMPARE(sourceCell(0), source.toString());
    QCOMPARE(panel->hostsTable->item(0, HostsColumn::Source)->background().color().name(QColor::HexArgb),
             blue);
    QCOMPARE(panel->hostsList.front()->updateUrl, source);
}

void TestUpdater::progressShown_data()
{
    QTest::addColumn<bool>("announced");
    QTest::newRow("with Content-Length: a share") << true;
    QTest::newRow("without Content-Length: busy until the end") << false;
}

void TestUpdater::progressShown()
{
    QFETCH(bool, announced);

    const QByteArray body = listBody(QStringLiteral("a"), 1000);
    HttpTestServer::Route route = serving(body);
    route.contentLength = announced;
    // Slow enough for several reports: the reply reports progress at most every 150 ms.
    route.bytesPerTick = 1024;
    route.tickMs = 30;
    server->setRoute(QStringLiteral("/a"), route);
    makePanel({{QStringLiteral("a.hosts"), server->url(QStringLiteral("/a"))}});
    if (QTest::currentTestFailed())
        return;

    syncButton(0)->click();
    DownloadProgressBar *progress = bar(0);
    QVERIFY(progress);
    QCOMPARE(progress->maximum(), 0);
    QList<int> maxima;
    QList<int> values;
    connect(progress, &QProgressBar::valueChanged, progress, [&](int value) {
        maxima << progress->maximum();
        values << value;
    });
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 2, 10000);
    QCOMPARE(log.lines.last(), updated(QStringLiteral("a.hosts")));

    QVERIFY2(values.size() > 2, "several steps of progress");
    // Busy while it runs; the last report, at the end, may tell the size received.
    const QList<int> whileRunning = maxima.mid(0, maxima.size() - 1);
    QCOMPARE(QSet<int>(whileRunning.cbegin(), whileRunning.cend()),
             QSet<int>{announced ? int(body.size()) : 0});
    QVERIFY(std::is_sorted(values.cbegin(), values.cend()));
    QCOMPARE(values.last(), int(body.size()));
}

void TestUpdater::cancelAbortsDownloads()
{
    const QStringList names{QStringLiteral("a.hosts"), QStringLiteral("b.hosts")};
    server->setRoute(QStringLiteral("/a"), slow(listBody(QStringLiteral("a"), 20000)));
    server->setRoute(QStringLiteral("/b"), slow(listBody(QStringLiteral("b"), 20000)));
    makePanel({{names[0], server->url(QStringLiteral("/a"))}, {names[1], server->url(QStringLiteral("/b"))}});
    if (QTest::currentTestFailed())
        return;

    syncButton(0)->click();
    syncButton(1)->click();
    // Both under way, part of each body received.
    QTRY_VERIFY_WITH_TIMEOUT(bar(0) && bar(0)->value() > 0 && bar(1) && bar(1)->value() > 0, 10000);

    dialogButton(QDialogButtonBox::Cancel)->click();
    QCOMPARE(log.lines,
             (QStringList{started(names[0]), started(names[1]), canceled(names[0]), canceled(names[1])}));
    QVERIFY(!panel->isVisible());
    QCOMPARE(panel->result(), int(QDialog::Rejected));
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(sourceCell(row), panel->hostsList[row]->updateUrl.toString());
        QCOMPARE(dateText(row), earlierText);
        QCOMPARE(panel->hostsList[row]->lastUpdate, earlier);
        QCOMPARE(readFile(listPath(names[row])), oldContent);
    }
    // Nothing more arrives later.
    QTest::qWait(300);
    QCOMPARE(log.lines.size(), 4);
    QVERIFY(answerer->shown.isEmpty());
    QCOMPARE(hostsFolder(), names);
}

void TestUpdater::closingKeepsDownloads()
{
    const QByteArray body = listBody(QStringLiteral("a"), 10);
    server->setRoute(QStringLiteral("/a"), held(body));
    makePanel({{QStringLiteral("a.hosts"), server->url(QStringLiteral("/a"))}});
    if (QTest::currentTestFailed())
        return;

    syncButton(0)->click();
    QTRY_COMPARE_WITH_TIMEOUT(server->heldCount(), 1, 10000);
    // Escape or the title bar's close button.
    panel->reject();
    server->release();
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 2, 10000);
    QCOMPARE(log.lines.last(), updated(QStringLiteral("a.hosts")));
    QCOMPARE(readFile(listPath(QStringLiteral("a.hosts"))), body);
}

void TestUpdater::secondClickIgnored()
{
    const QByteArray body = listBody(QStringLiteral("a"), 10);
    server->setRoute(QStringLiteral("/a"), held(body));
    makePanel({{QStringLiteral("a.hosts"), server->url(QStringLiteral("/a"))}});
    if (QTest::currentTestFailed())
        return;

    syncButton(0)->click();
    QTRY_COMPARE_WITH_TIMEOUT(server->heldCount(), 1, 10000);
    DownloadProgressBar *first = bar(0);
    syncButton(0)->click();
    panel->syncHostsFile(0);
    QTest::qWait(200);
    QCOMPARE(server->requestCount(QStringLiteral("/a")), 1);
    QCOMPARE(bar(0), first);
    QCOMPARE(log.lines, QStringList{started(QStringLiteral("a.hosts"))});

    server->release();
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 2, 10000);
    QCOMPARE(log.lines.last(), updated(QStringLiteral("a.hosts")));
    QTest::qWait(100);
    QCOMPARE(log.lines.size(), 2);
}

void TestUpdater::emptySourceDoesNothing()
{
    makePanel({{QStringLiteral("a.hosts"), QUrl()}});
    if (QTest::currentTestFailed())
        return;

    syncButton(0)->click();
    panel->syncHostsFile(0);
    QTest::qWait(100);
    QVERIFY(log.lines.isEmpty());
    QCOMPARE(sourceCell(0), QString());
    QCOMPARE(dateText(0), earlierText);
    QVERIFY(platform.calls.isEmpty());
}

void TestUpdater::unwritableTarget_data()
{
    QTest::addColumn<bool>("network");
    QTest::addColumn<QString>("obstacle");

    QTest::newRow("download, a folder in place of the list") << true << QStringLiteral("folder");
    QTest::newRow("download, an immutable hosts folder") << true << QStringLiteral("immutable");
    QTest::newRow("copy, an immutable hosts folder") << false << QStringLiteral("immutable");
    QTest::newRow("copy, refused by the system") << false << QStringLiteral("refused");
}

void TestUpdater::unwritableTarget()
{
    QFETCH(bool, network);
    QFETCH(QString, obstacle);

    const QString name = QStringLiteral("a.hosts");
    const QByteArray body = listBody(QStringLiteral("a"), 100);
    server->setRoute(QStringLiteral("/a"), serving(body));
    makePanel({{name, network ? server->url(QStringLiteral("/a")) : local(QStringLiteral("a.txt"), body)}});
    if (QTest::currentTestFailed())
        return;
    if (obstacle == QLatin1String("folder")) {
        QVERIFY(QFile::remove(listPath(name)));
        QVERIFY(QDir().mkdir(listPath(name)));
    }
    platform.writesSucceed = obstacle != QLatin1String("refused");
    const ImmutablePath lock(QDir::current().absoluteFilePath(QStringLiteral("hosts")));
    if (obstacle == QLatin1String("immutable") && !lock.isSet())
        QSKIP(qPrintable(lock.failure()));

    syncButton(0)->click();
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 2, 10000);
    QCOMPARE(log.lines, (QStringList{started(name), unsaved(name)}));
    QVERIFY(answerer->shown.isEmpty());
    QCOMPARE(dateText(0), earlierText);
    QCOMPARE(sourceCell(0), panel->hostsList.front()->updateUrl.toString());
    if (obstacle == QLatin1String("folder"))
        QVERIFY(QFileInfo(listPath(name)).isDir());
    else
        QCOMPARE(readFile(listPath(name)), oldContent);
    QCOMPARE(hostsFolder(), QStringList{name});
}

void TestUpdater::refusedTarget_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("network");

    QTest::newRow("download into the parent folder") << QStringLiteral("../escape.hosts") << true;
    QTest::newRow("copy into the parent folder") << QStringLiteral("../escape.hosts") << false;
    QTest::newRow("download through a link") << QStringLiteral("link.hosts") << true;
    QTest::newRow("copy through a link") << QStringLiteral("link.hosts") << false;
}

void TestUpdater::refusedTarget()
{
    QFETCH(QString, name);
    QFETCH(bool, network);

    // A list called link.hosts is a link to a file outside the library.
    QVERIFY(writeFile(QStringLiteral("outside.txt"), oldContent));
    QVERIFY(QFile::link(QDir::current().absoluteFilePath(QStringLiteral("outside.txt")),
                        listPath(QStringLiteral("link.hosts"))));
    server->setRoute(QStringLiteral("/a"), serving("0.0.0.0 new.example\n"));
    const QUrl source =
        network ? server->url(QStringLiteral("/a")) : local(QStringLiteral("a.txt"), "0.0.0.0 new.example\n");
    panel = std::make_unique<UI_OptionsPanel>(platform);
    panel->setLogPanel(&log);
    panel->loadHostsList();
    QCOMPARE(panel->hostsList.size(), size_t(1));
    // A name from the settings file, as the table has not been reconciled since.
    panel->hostsList.front()->name = name;
    panel->hostsList.front()->updateUrl = source;

    panel->syncHostsFile(0);
    QTest::qWait(200);
    QCOMPARE(
        log.lines,
        QStringList{QStringLiteral("3 Unable to save '%1'! Only plain files of the hosts folder are updated")
                        .arg(name)});
    QCOMPARE(server->requestCount(QStringLiteral("/a")), 0);
    QVERIFY(platform.calls.isEmpty());
    QVERIFY(!bar(0));
    QCOMPARE(readFile(QStringLiteral("outside.txt")), oldContent);
    QVERIFY(!QFileInfo::exists(QStringLiteral("escape.hosts")));
    QVERIFY(QFileInfo(listPath(QStringLiteral("link.hosts"))).isSymLink());
}

void TestUpdater::automaticUpdate_data()
{
    QTest::addColumn<int>("frequency");
    QTest::addColumn<int>("daysAgo"); // -1: never updated
    QTest::addColumn<bool>("due");

    QTest::newRow("-1, never updated") << -1 << -1 << false;
    QTest::newRow("-1, updated a year ago") << -1 << 365 << false;
    QTest::newRow("0, never updated") << 0 << -1 << true;
    QTest::newRow("0, updated today") << 0 << 0 << true;
    QTest::newRow("7, never updated") << 7 << -1 << true;
    QTest::newRow("7, updated today") << 7 << 0 << false;
    QTest::newRow("7, six days ago") << 7 << 6 << false;
    QTest::newRow("7, seven days ago: on the boundary") << 7 << 7 << true;
    QTest::newRow("7, eight days ago") << 7 << 8 << true;
}

void TestUpdater::automaticUpdate()
{
    QFETCH(int, frequency);
    QFETCH(int, daysAgo);
    QFETCH(bool, due);

    const QString network = QStringLiteral("net.hosts");
    const QString copied = QStringLiteral("local.hosts");
    const QByteArray body = listBody(QStringLiteral("new"), 10);
    server->setRoute(QStringLiteral("/net"), serving(body));
    const QDateTime last =
        daysAgo < 0 ? QDateTime() : QDateTime(QDate::currentDate().addDays(-daysAgo), QTime(23, 0));
    makePanel({{copied, local(QStringLiteral("local.txt"), body), frequency, last},
               {network, server->url(QStringLiteral("/net")), frequency, last}});
    if (QTest::currentTestFailed())
        return;

    panel->hide(); // at start the dialog is not shown
    panel->performAutoUpdate();
    const QString before =
        last.isValid() ? last.toString(QStringLiteral("yyyy-MM-dd")) : QStringLiteral("Never");
    if (!due) {
        QTest::qWait(200);
        QVERIFY(log.lines.isEmpty());
        QCOMPARE(server->requestCount(QStringLiteral("/net")), 0);
        for (int row = 0; row < 2; ++row) {
            QCOMPARE(dateText(row), before);
            QCOMPARE(readFile(listPath(panel->hostsList[row]->name)), oldContent);
        }
        return;
    }
    // The copy is done before performAutoUpdate() returns; the download follows.
    QCOMPARE(log.lines.mid(0, 3), (QStringList{started(copied), updated(copied), started(network)}));
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 4, 10000);
    QCOMPARE(log.lines.last(), updated(network));
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(dateText(row), today());
        QCOMPARE(readFile(listPath(panel->hostsList[row]->name)), body);
    }
}

void TestUpdater::failureBoxOnlyByHand_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::newRow("started by hand: the box first") << false;
    QTest::newRow("automatic: no box") << true;
}

void TestUpdater::failureBoxOnlyByHand()
{
    QFETCH(bool, automatic);

    const QString name = QStringLiteral("a.hosts");
    server->setRoute(QStringLiteral("/a"), failing(404));
    makePanel({{name, server->url(QStringLiteral("/a")), 0}});
    if (QTest::currentTestFailed())
        return;
    QStringList logWhileShown;
    answerer->whileShown = [&] { logWhileShown = log.lines; };

    if (automatic)
        panel->performAutoUpdate();
    else
        syncButton(0)->click();
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 2, 10000);
    QCOMPARE(log.lines, (QStringList{started(name), failed(name)}));
    QCOMPARE(answerer->shown, automatic ? QStringList() : QStringList{failureBox(name)});
    if (!automatic)
        QCOMPARE(logWhileShown, QStringList{started(name)});

    // The automatic flag does not outlive its update: the next failure by hand shows the box.
    answerer->shown.clear();
    syncButton(0)->click();
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 4, 10000);
    QCOMPARE(answerer->shown, QStringList{failureBox(name)});
}

void TestUpdater::updateAll()
{
    const QStringList names{QStringLiteral("a.hosts"), QStringLiteral("b.hosts"), QStringLiteral("c.hosts"),
                            QStringLiteral("d.hosts"), QStringLiteral("e.hosts")};
    const QByteArray bodyA = listBody(QStringLiteral("a"), 10);
    const QByteArray bodyC = listBody(QStringLiteral("c"), 10);
    server->setRoute(QStringLiteral("/a"), held(bodyA));
    server->setRoute(QStringLiteral("/c"), held(bodyC));
    makePanel({{names[0], server->url(QStringLiteral("/a"))},
               {names[1], local(QStringLiteral("b.txt"), "b\n")},
               {names[2], server->url(QStringLiteral("/c"))},
               {names[3], local(QStringLiteral("d.txt"), "d\n")},
               {names[4], QUrl()}});
    if (QTest::currentTestFailed())
        return;

    auto *updateAllButton =
        qobject_cast<QAbstractButton *>(panel->hostsTable->cellWidget(5, HostsColumn::LastUpdate));
    QVERIFY(updateAllButton);
    QCOMPARE(updateAllButton->text(), QStringLiteral("Update all"));
    updateAllButton->click();

    // The local rows were copied in turn, inside the click; the network rows run on, together.
    QCOMPARE(log.lines, (QStringList{started(names[0]), started(names[1]), updated(names[1]),
                                     started(names[2]), started(names[3]), updated(names[3])}));
    QCOMPARE(platform.calls.size(), 2);
    QCOMPARE(readFile(listPath(names[1])), QByteArray("b\n"));
    QCOMPARE(readFile(listPath(names[3])), QByteArray("d\n"));
    QCOMPARE(dateText(1), today());
    QCOMPARE(dateText(3), today());
    QCOMPARE(sourceCell(1), panel->hostsList[1]->updateUrl.toString());
    QTRY_COMPARE_WITH_TIMEOUT(server->heldCount(), 2, 10000);
    QCOMPARE(sourceCell(0), QStringLiteral("bar"));
    QCOMPARE(sourceCell(2), QStringLiteral("bar"));

    server->release();
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 8, 10000);
    QVERIFY(log.lines.contains(updated(names[0])));
    QVERIFY(log.lines.contains(updated(names[2])));
    QCOMPARE(readFile(listPath(names[0])), bodyA);
    QCOMPARE(readFile(listPath(names[2])), bodyC);
    for (int row = 0; row < 4; ++row)
        QCOMPARE(dateText(row), today());
    QCOMPARE(dateText(4), earlierText);
    QCOMPARE(readFile(listPath(names[4])), oldContent);
}

void TestUpdater::manyListsAtOnce()
{
    constexpr int count = 40;
    QList<ListSpec> lists;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("/list%1").arg(i);
        // Every third list fails, the others bring their own body; all wait until every one is asked.
        HttpTestServer::Route route = i % 3 == 2 ? failing(404) : serving(listBody(path, 5 + i));
        route.held = true;
        server->setRoute(path, route);
        lists << ListSpec{QStringLiteral("list%1.hosts").arg(i, 2, 10, QLatin1Char('0')), server->url(path),
                          0};
    }
    makePanel(lists);
    if (QTest::currentTestFailed())
        return;

    panel->performAutoUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(server->heldCount(), count, 20000);
    for (int row = 0; row < count; ++row)
        QCOMPARE(sourceCell(row), QStringLiteral("bar"));
    server->release();
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 2 * count, 20000);

    QVERIFY(answerer->shown.isEmpty());
    for (int row = 0; row < count; ++row) {
        const QString name = lists[row].name;
        const bool fails = row % 3 == 2;
        QVERIFY2(log.lines.contains(fails ? failed(name) : updated(name)), qPrintable(name));
        QCOMPARE(readFile(listPath(name)),
                 fails ? oldContent : listBody(QStringLiteral("/list%1").arg(row), 5 + row));
        QCOMPARE(dateText(row), fails ? earlierText : today());
        QCOMPARE(sourceCell(row), lists[row].source.toString());
    }
}

void TestUpdater::flagsBeyond32Rows()
{
    // Row 1 updates automatically while row 33, started by hand, fails: with one 32-bit mask
    // they would share a flag, and row 33 would fail without its box.
    constexpr int count = 34;
    QList<ListSpec> lists;
    for (int i = 0; i < count; ++i)
        lists << ListSpec{QStringLiteral("list%1.hosts").arg(i, 2, 10, QLatin1Char('0')),
                          server->url(i == 1 ? QStringLiteral("/auto") : QStringLiteral("/hand")),
                          i == 1 ? 0 : -1};
    HttpTestServer::Route route = failing(404);
    route.held = true;
    server->setRoute(QStringLiteral("/auto"), route);
    server->setRoute(QStringLiteral("/hand"), failing(404));
    makePanel(lists);
    if (QTest::currentTestFailed())
        return;

    panel->performAutoUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(server->heldCount(), 1, 10000);
    syncButton(33)->click();
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 3, 10000);
    QCOMPARE(log.lines,
             (QStringList{started(lists[1].name), started(lists[33].name), failed(lists[33].name)}));
    QCOMPARE(answerer->shown, QStringList{failureBox(lists[33].name)});

    server->release();
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 4, 10000);
    QCOMPARE(log.lines.last(), failed(lists[1].name));
    QCOMPARE(answerer->shown.size(), 1);
}

void TestUpdater::reloadWhileDownloading_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("the moved downloads finish") << false;
    QTest::newRow("the moved downloads are cancelled") << true;
}

void TestUpdater::reloadWhileDownloading()
{
    QFETCH(bool, cancel);

    const QStringList names{QStringLiteral("a.hosts"), QStringLiteral("b.hosts"), QStringLiteral("c.hosts"),
                            QStringLiteral("d.hosts")};
    QList<ListSpec> lists;
    for (const QString &name : names) {
        const QString path = QLatin1Char('/') + name;
        server->setRoute(path, held(listBody(name, 20)));
        lists << ListSpec{name, server->url(path), -1, earlier, name == QLatin1String("d.hosts")};
    }
    makePanel(lists);
    if (QTest::currentTestFailed())
        return;

    for (int row = 1; row < 4; ++row)
        syncButton(row)->click();
    QTRY_COMPARE_WITH_TIMEOUT(server->heldCount(), 3, 10000);
    // a.hosts leaves the table above the downloads; c.hosts leaves it while it downloads.
    QVERIFY(QFile::remove(listPath(names[0])));
    QVERIFY(QFile::remove(listPath(names[2])));
    QVERIFY(writeFile(listPath(QStringLiteral("z.hosts")), oldContent));

    auto *reload = qobject_cast<QAbstractButton *>(panel->hostsTable->cellWidget(4, HostsColumn::Select));
    QVERIFY(reload);
    reload->click();
    // The Edit menu rebuilds the table too.
    panel->loadHostsList();

    QCOMPARE(log.lines,
             (QStringList{started(names[1]), started(names[2]), started(names[3]), canceled(names[2])}));
    QStringList shown;
    for (const auto &entry : panel->hostsList)
        shown << entry->name;
    QCOMPARE(shown, (QStringList{names[1], names[3], QStringLiteral("z.hosts")}));
    QCOMPARE(sourceCell(0), QStringLiteral("bar"));
    QCOMPARE(sourceCell(1), QStringLiteral("bar"));
    QCOMPARE(sourceCell(2), QString());
    // The row that a download left takes edits again.
    panel->hostsTable->item(2, HostsColumn::Source)->setText(QStringLiteral("http://127.0.0.1:1/z"));
    QCOMPARE(panel->hostsList[2]->updateUrl, QUrl(QStringLiteral("http://127.0.0.1:1/z")));

    if (cancel) {
        dialogButton(QDialogButtonBox::Cancel)->click();
        QCOMPARE(log.lines.mid(4), (QStringList{canceled(names[1]), canceled(names[3])}));
        server->release();
    } else {
        server->release();
        QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 6, 10000);
        QVERIFY(log.lines.contains(updated(names[1])));
        QVERIFY(log.lines.contains(updated(names[3])));
    }
    QTest::qWait(200);
    QCOMPARE(log.lines.size(), 6);
    const QString date = cancel ? earlierText : today();
    QCOMPARE(readFile(listPath(names[1])), cancel ? oldContent : listBody(names[1], 20));
    QCOMPARE(readFile(listPath(names[3])), cancel ? oldContent : listBody(names[3], 20));
    QCOMPARE(dateText(0), date);
    QCOMPARE(dateText(1), date);
    QCOMPARE(dateText(2), QStringLiteral("Never"));
    QCOMPARE(sourceCell(0), lists[1].source.toString());
    QCOMPARE(sourceCell(1), lists[3].source.toString());
    // d.hosts, selected, gets its colour back in its new row; b.hosts none.
    QCOMPARE(sourceBackground(1), blue);
    QCOMPARE(sourceBackground(0), QStringLiteral("clear"));
    QCOMPARE(sourceCell(2), QStringLiteral("http://127.0.0.1:1/z"));
    QCOMPARE(readFile(listPath(QStringLiteral("z.hosts"))), oldContent);
    // The cancelled list is not brought back.
    QCOMPARE(hostsFolder(), (QStringList{names[1], names[3], QStringLiteral("z.hosts")}));
    QVERIFY(answerer->shown.isEmpty());
}

void TestUpdater::destroyedWhileDownloading()
{
    server->setRoute(QStringLiteral("/a"), held(listBody(QStringLiteral("a"), 10)));
    makePanel({{QStringLiteral("a.hosts"), server->url(QStringLiteral("/a"))}});
    if (QTest::currentTestFailed())
        return;

    syncButton(0)->click();
    QTRY_COMPARE_WITH_TIMEOUT(server->heldCount(), 1, 10000);
    panel.reset();
    server->release();
    QTest::qWait(200);
    QCOMPARE(log.lines, QStringList{started(QStringLiteral("a.hosts"))});
    QCOMPARE(readFile(listPath(QStringLiteral("a.hosts"))), oldContent);
    QCOMPARE(hostsFolder(), QStringList{QStringLiteral("a.hosts")});
}

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
