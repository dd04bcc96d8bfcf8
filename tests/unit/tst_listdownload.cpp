#include "options/ListDownload.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

Q_DECLARE_METATYPE(UpdateOutcome)
using Outcome = UpdateOutcome;

class TestListDownload : public QObject {
    Q_OBJECT

private slots:
    void download_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("how"); // chunked, cut off, short, cancel, folder; for a 302 where it leads
        QTest::addColumn<Outcome>("outcome");
        const QByteArray list = QByteArray("0.0.0.0 *.ads.test\n").repeated(20'000);
        QTest::newRow("200: body saved exactly") << 200 << list << "" << Outcome::Updated;
        QTest::newRow("empty body") << 200 << QByteArray() << "" << Outcome::Updated;
        QTest::newRow("NUL and other bytes") << 200 << QByteArray("\0\r\n\xff", 4) << "" << Outcome::Updated;
        QTest::newRow("chunked") << 200 << list << "chunked" << Outcome::Updated;
        for (int status : {404, 500, 206, 304}) // an error page is no list, even one that looks like it
            QTest::addRow("%d", status) << status << list << "" << Outcome::Failed;
        QTest::newRow("cut off before its Content-Length") << 200 << list << "cut off" << Outcome::Failed;
        QTest::newRow("shorter than announced, without an error")
            << 200 << list << "short" << Outcome::Failed;
        QTest::newRow("redirect followed") << 302 << list << "/moved" << Outcome::Updated;
        QTest::newRow("canceled") << 200 << list << "cancel" << Outcome::Canceled;
        QTest::newRow("a folder in place of the list") << 200 << list << "folder" << Outcome::SaveFailed;
        QTest::newRow("404 where the list cannot be saved") << 404 << list << "folder" << Outcome::Failed;
    }
    void download()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, how);
        QFETCH(Outcome, outcome);
        QTemporaryDir dir;
        const QString target = dir.filePath("list.hosts");
        QVERIFY(how == "folder" ? QDir().mkdir(target) : writeWholeFile(target, "127.0.0.1 old.test\n"));
        const QByteArray before = readWholeFile(target);
        HttpTestServer server;
        QVERIFY2(server.isListening(), qPrintable(server.errorString()));
        HttpTestServer::Route route = HttpTestServer::Route::serving(status == 302 ? "moved" : body);
        route.status = status;
        route.chunked = how == "chunked";
        route.closeAfter = how == "cut off" ? body.size() / 2 : -1;
        route.bytesPerTick = how == "cancel" ? 512 : 0;
        route.location = status == 302 ? how.toUtf8() : QByteArray();
        server.setRoute("/list", route);
        server.setRoute("/moved", HttpTestServer::Route::serving(body));
        QNetworkAccessManager manager;
        // Qt ends some early closes as if the body were whole; a file shrunk once announced always does.
        QTemporaryFile source;
        QVERIFY(source.open() && source.write(body) == body.size() && source.flush());
        QNetworkReply *reply = manager.get(
            listRequest(how == "short" ? QUrl::fromLocalFile(source.fileName()) : server.url("/list")));
        QVERIFY(source.resize(body.size() / 2));
        auto *download = new ListDownload(reply, target);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (how == "cancel" && QSignalSpy(reply, &QNetworkReply::readyRead).wait(10000))
            download->cancel(); // once bytes came
        QVERIFY(!finished.isEmpty() || finished.wait(20000));
        QCOMPARE(download->finish(), outcome);
        QCOMPARE(readWholeFile(target), outcome == Outcome::Updated ? body : before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 {"list.hosts"});
    }
};

QTEST_GUILESS_MAIN(TestListDownload)
#include "tst_listdownload.moc"
