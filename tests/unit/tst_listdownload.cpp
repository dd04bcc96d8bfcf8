#include "options/ListDownload.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ImmutablePath.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using Routes = QHash<QString, HttpTestServer::Route>;
Q_DECLARE_METATYPE(Routes)
Q_DECLARE_METATYPE(UpdateOutcome)

namespace {

const QByteArray oldContent("127.0.0.1 old.example\n");
const QString requested = QStringLiteral("/list");

QByteArray listBody(int lines)
{
    QByteArray body;
    for (int i = 0; i < lines; ++i)
        body += "0.0.0.0 host" + QByteArray::number(i) + ".example\n";
    return body;
}

const auto serving = HttpTestServer::Route::serving;

HttpTestServer::Route redirectTo(const QByteArray &location)
{
    HttpTestServer::Route route;
    route.status = 302;
    route.location = location;
    return route;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

} // namespace

class TestListDownload : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void outcome_data();
    void outcome();
    void cancelKeepsOldFile();
    void stalledTransferFails();
    void unwritableTarget_data();
    void unwritableTarget();
    void request();

private:
    // Runs a download of `requested` into the list file and tells how it ended; `whileRunning`
    // gets the download once it is under way.
    UpdateOutcome download(int timeoutMs = listTransferTimeoutMs,
                           const std::function<void(ListDownload &)> &whileRunning = {});
    QStringList folderEntries() const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<HttpTestServer> server;
    QString target;
};

void TestListDownload::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("hosts")));
    target = dir->filePath(QStringLiteral("hosts/list.hosts"));
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(oldContent) == oldContent.size());
    server = std::make_unique<HttpTestServer>();
    QVERIFY2(server->isListening(), qPrintable(server->errorString()));
}

void TestListDownload::cleanup()
{
    server.reset();
    dir.reset();
}

UpdateOutcome TestListDownload::download(int timeoutMs,
                                         const std::function<void(ListDownload &)> &whileRunning)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(listRequest(server->url(requested), timeoutMs));
    auto *download = new ListDownload(reply, target);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (whileRunning)
        whileRunning(*download);
    if (finished.isEmpty())
        finished.wait(20000);
    return finished.isEmpty() ? UpdateOutcome(-1) : download->finish();
}

QStringList TestListDownload::folderEntries() const
{
    return QDir(dir->filePath(QStringLiteral("hosts")))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void TestListDownload::outcome_data()
{
    QTest::addColumn<Routes>("routes");
    QTest::addColumn<UpdateOutcome>("outcome");
    QTest::addColumn<QByteArray>("content");

    const QByteArray body = listBody(200);
    const QByteArray large = listBody(300000); // several megabytes
    HttpTestServer::Route route;

    QTest::newRow("with Content-Length")
        << Routes{{requested, serving(body)}} << UpdateOutcome::Updated << body;
    route = serving(body);
    route.contentLength = false;
    QTest::newRow("without Content-Length") << Routes{{requested, route}} << UpdateOutcome::Updated << body;
    route = serving(large);
    route.contentLength = false;
    QTest::newRow("megabytes without Content-Length")
        << Routes{{requested, route}} << UpdateOutcome::Updated << large;
    QTest::newRow("megabytes with Content-Length")
        << Routes{{requested, serving(large)}} << UpdateOutcome::Updated << large;
    route = serving(body);
    route.chunked = true;
    QTest::newRow("chunked") << Routes{{requested, route}} << UpdateOutcome::Updated << body;
    route.bytesPerTick = 1000;
    route.tickMs = 2;
    QTest::newRow("chunked, slowly") << Routes{{requested, route}} << UpdateOutcome::Updated << body;
    QTest::newRow("empty body") << Routes{{requested, serving(QByteArray())}} << UpdateOutcome::Updated
                                << QByteArray();
    QTest::newRow("bytes kept as they are")
        << Routes{{requested, serving(QByteArray("\xef\xbb\xbf\r\n\0\xff", 7))}} << UpdateOutcome::Updated
        << QByteArray("\xef\xbb\xbf\r\n\0\xff", 7);

    route = serving("<html>not here</html>");
    route.status = 404;
    QTest::newRow("404") << Routes{{requested, route}} << UpdateOutcome::Failed << oldContent;
    route.status = 500;
    QTest::newRow("500") << Routes{{requested, route}} << UpdateOutcome::Failed << oldContent;
    route.status = 302;
    QTest::newRow("302 without Location")
        << Routes{{requested, route}} << UpdateOutcome::Failed << oldContent;
    // These come without a network error.
    route.status = 300;
    QTest::newRow("300 with a body") << Routes{{requested, route}} << UpdateOutcome::Failed << oldContent;
    route.status = 304;
    QTest::newRow("304") << Routes{{requested, route}} << UpdateOutcome::Failed << oldContent;
    route.status = 206;
    QTest::newRow("206 partial content") << Routes{{requested, route}} << UpdateOutcome::Failed << oldContent;
    route.status = 203;
    QTest::newRow("203 is a success") << Routes{{requested, route}} << UpdateOutcome::Updated << route.body;
    QTest::newRow("unknown path") << Routes{} << UpdateOutcome::Failed << oldContent;

    route = serving(large);
    route.closeAfter = large.size() / 2;
    QTest::newRow("closes half-way, with Content-Length")
        << Routes{{requested, route}} << UpdateOutcome::Failed << oldContent;
    route = serving(body);
    route.closeAfter = 0;
    QTest::newRow("closes after the header")
        << Routes{{requested, route}} << UpdateOutcome::Failed << oldContent;

    QTest::newRow("redirect followed")
        << Routes{{requested, redirectTo("/moved")}, {QStringLiteral("/moved"), serving(body)}}
        << UpdateOutcome::Updated << body;
    Routes chain;
    for (int i = 0; i < maxListRedirects; ++i)
        chain.insert(i == 0 ? requested : QStringLiteral("/hop%1").arg(i),
                     redirectTo("/hop" + QByteArray::number(i + 1)));
    chain.insert(QStringLiteral("/hop%1").arg(maxListRedirects), serving(body));
    QTest::newRow("redirects up to the limit") << chain << UpdateOutcome::Updated << body;
    chain.insert(QStringLiteral("/hop%1").arg(maxListRedirects), redirectTo("/hop-last"));
    chain.insert(QStringLiteral("/hop-last"), serving(body));
    QTest::newRow("one redirect past the limit") << chain << UpdateOutcome::Failed << oldContent;
    QTest::newRow("redirect loop") << Routes{{requested, redirectTo("/list")}} << UpdateOutcome::Failed
                                   << oldContent;
    QTest::newRow("redirect to a local file")
        << Routes{{requested, redirectTo("file:///etc/hostname")}} << UpdateOutcome::Failed << oldContent;
}

void TestListDownload::outcome()
{
    QFETCH(Routes, routes);
    QFETCH(UpdateOutcome, outcome);
    QFETCH(QByteArray, content);

    for (auto it = routes.cbegin(); it != routes.cend(); ++it)
        server->setRoute(it.key(), it.value());
    QCOMPARE(download(), outcome);
    QCOMPARE(readFile(target), content);
    // No temporary file stays behind, whatever the outcome.
    QCOMPARE(folderEntries(), QStringList{QStringLiteral("list.hosts")});
}

void TestListDownload::cancelKeepsOldFile()
{
    HttpTestServer::Route route = serving(listBody(2000));
    route.bytesPerTick = 512;
    server->setRoute(requested, route);

    const UpdateOutcome outcome = download(listTransferTimeoutMs, [](ListDownload &download) {
        // Cancelled once part of the body has arrived.
        auto *reply = qobject_cast<QNetworkReply *>(download.parent());
        QSignalSpy progress(reply, &QNetworkReply::readyRead);
        QVERIFY(progress.wait(10000));
        download.cancel();
    });
    QCOMPARE(outcome, UpdateOutcome::Canceled);
    QCOMPARE(readFile(target), oldContent);
    QCOMPARE(folderEntries(), QStringList{QStringLiteral("list.hosts")});
}

void TestListDownload::stalledTransferFails()
{
    HttpTestServer::Route route = serving(listBody(10));
    route.held = true; // never answers
    server->setRoute(requested, route);

    QElapsedTimer clock;
    clock.start();
    // A stall is a failure, not a cancel by the user.
    QCOMPARE(download(300), UpdateOutcome::Failed);
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(server->heldCount(), 1);
    QCOMPARE(readFile(target), oldContent);
}

void TestListDownload::unwritableTarget_data()
{
    QTest::addColumn<bool>("directory");
    QTest::addColumn<int>("lines");
    QTest::newRow("a folder in place of the list") << true << 200000;
    QTest::newRow("a folder in place of the list, empty body") << true << 0;
    QTest::newRow("an immutable hosts folder") << false << 200000;
}

void TestListDownload::unwritableTarget()
{
    QFETCH(bool, directory);
    QFETCH(int, lines);

    HttpTestServer::Route route = serving(listBody(lines));
    route.bytesPerTick = 64 * 1024;
    route.tickMs = 50;
    server->setRoute(requested, route);
    if (directory) {
        QVERIFY(QFile::remove(target));
        QVERIFY(QDir().mkdir(target));
    }
    const ImmutablePath lock(dir->filePath(QStringLiteral("hosts")));
    if (!directory && !lock.isSet())
        QSKIP(qPrintable(lock.failure()));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(download(), UpdateOutcome::SaveFailed);
    // The transfer stops at the first bytes that cannot be kept; the whole body takes seconds.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(QFileInfo(target).isDir(), directory);
    if (!directory)
        QCOMPARE(readFile(target), oldContent);
    QCOMPARE(folderEntries(), QStringList{QStringLiteral("list.hosts")});
}

void TestListDownload::request()
{
    const QNetworkRequest request = listRequest(QUrl(QStringLiteral("http://127.0.0.1/a.hosts")), 1234);
    QCOMPARE(request.url(), QUrl(QStringLiteral("http://127.0.0.1/a.hosts")));
    QCOMPARE(request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
             int(QNetworkRequest::NoLessSafeRedirectPolicy));
    QCOMPARE(request.maximumRedirectsAllowed(), maxListRedirects);
    QCOMPARE(request.transferTimeout(), 1234);
}

QTEST_GUILESS_MAIN(TestListDownload)
#include "tst_listdownload.moc"
