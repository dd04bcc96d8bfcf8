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
        QCOMPARE(panel.records(true), kept.contains("unanswered"));
        for (const QString &line : lines)
            panel.appendLog(line, LogLevel::Question, line == "unanswered");
        QStringList messages = logMessages(panel);
        messages.removeAll("Log status changed!");
        QCOMPARE(messages, kept);
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

    // Every line is on disk within a second, under the unfinished name until the quit; older lines
    // leave the panel, not the file.
    void linesOnDiskPanelBounded()
    {
        ProgramFolder folder;
        UI_LogPanel panel(QStringLiteral("Detailed"));
        const int count = UI_LogPanel::maxShownLines + 5;
        for (int i = 0; i < count; ++i)
            panel.appendLog(QString::number(i), LogLevel::Plain, false);
        QTRY_COMPARE(readWholeFile("log/" + QDir("log").entryList({"*.log.unfinished"}).value(0)).count('\n'),
                     count);
        const QStringList shown = logMessages(panel);
        QCOMPARE(shown.size(), UI_LogPanel::maxShownLines);
        QCOMPARE(shown.first(), "5");
        panel.save();
        const QStringList files = QDir("log").entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY(files[0].endsWith(".log") && readWholeFile("log/" + files[0]).count('\n') == count);
    }

    // Names from queries, files and lists reach the log as they are; none may break or forge a line.
    void namesCannotForgeLines()
    {
        ProgramFolder folder; // its log/ takes the line
        UI_LogPanel panel(QStringLiteral("Detailed"));
        panel.browserWidget()->clear();
        panel.appendLog(QString::fromUtf8("a\n2026-01-01 00:00:00:000 : b\x7f\u0085c\u2028d"),
                        LogLevel::Fails, false);
        QCOMPARE(logMessages(panel), QStringList{"a\\x0a2026-01-01 00:00:00:000 : b\\x7f\\x85c\\u2028d"});
    }
};

QTEST_MAIN(TestLogPanel)
#include "tst_logpanel.moc"
