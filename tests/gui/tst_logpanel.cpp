#include "log/UI_LogPanel.h"
#include "tests/support/LogText.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QTest>
#include <QTextBrowser>

class TestLogPanel : public QObject {
    Q_OBJECT

    const QStringList lines{"plain", QString::fromUtf8("answered \u00fc"), "unanswered"};

private slots:
    void keptAndSaved_data()
    {
        QTest::addColumn<QString>("modes"); // at the start, then switched to ("Detailed>Brief")
        QTest::addColumn<bool>("logFolder");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("Detailed keeps every line") << "Detailed" << true << lines;
        QTest::newRow("Brief drops detailed-only lines") << "Brief" << true << lines.mid(0, 2);
        QTest::newRow("Off keeps nothing, writes no file") << "Off" << true << QStringList();
        QTest::newRow("switched to Brief") << "Detailed>Brief" << true << lines.mid(0, 2);
        QTest::newRow("switched to Off") << "Brief>Off" << true << QStringList();
        QTest::newRow("switched from Off to Detailed") << "Off>Detailed" << true << lines;
        QTest::newRow("no file without log/") << "Detailed" << false << lines;
    }
    void keptAndSaved()
    {
        QFETCH(QString, modes);
        QFETCH(bool, logFolder);
        QFETCH(QStringList, kept);
        ProgramFolder folder;
        QVERIFY(folder.isValid() && (logFolder || QDir(folder.path("log")).removeRecursively()));
        UI_LogPanel panel(modes.section('>', 0, 0));
        panel.setStatus(modes.section('>', -1));
        panel.browserWidget()->clear();
        QCOMPARE(panel.records(true), kept.contains("unanswered"));
        for (const QString &line : lines)
            panel.appendLog(line, LogLevel::Question, line == "unanswered");
        QCOMPARE(logMessages(panel), kept);
        panel.save();
        const QStringList files = QDir(folder.path("log")).entryList(QDir::Files);
        QCOMPARE(files.size(), int(logFolder && !kept.isEmpty()));
        if (!files.isEmpty()) {
            QCOMPARE(UI_LogPanel::fileNameFor(QDateTime::fromString(files[0], "yyyy-MM-dd_hh.mm.ss'.log'")),
                     "./log/" + files[0]);
            QCOMPARE(QString::fromUtf8(readWholeFile("log/" + files[0])),
                     panel.browserWidget()->toPlainText());
        }
    }
};

QTEST_MAIN(TestLogPanel)
#include "tst_logpanel.moc"
