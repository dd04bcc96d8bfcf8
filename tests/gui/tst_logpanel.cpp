#include "log/JournalWriter.h"
#include "log/LogView.h"
#include "log/UI_LogPanel.h"
#include "tests/support/LogText.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

class TestLogPanel : public QObject {
    Q_OBJECT

    const QStringList lines{"plain", QString::fromUtf8("answered\u00a0\u00fc"), "unanswered"};

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
                     panel.browserWidget()->toPlainText().replace(QChar(0xa0),
                                                                  u' ')); // as a text browser saved it
        }
    }

    // Every line is on disk within a second, under the unfinished name until the quit; older lines
    // leave the panel, not the file.
    void linesOnDiskPanelBounded()
    {
        ProgramFolder folder;
        UI_LogPanel panel(QStringLiteral("Detailed"));
        const int count = 500000; // a long run's, in steps the writer can follow
        for (int i = 0; i < count; ++i) {
            panel.appendLog(QString::number(i), LogLevel::Plain, false);
            if ((i + 1) % 50000 == 0)
                QTRY_COMPARE(
                    readWholeFile("log/" + QDir("log").entryList({"*.log.unfinished"}).value(0)).count('\n'),
                    i + 1);
        }
        const QStringList shown = logMessages(panel);
        QCOMPARE(shown.size(), UI_LogPanel::maxShownLines);
        QCOMPARE(shown.first(), QString::number(count - UI_LogPanel::maxShownLines));
        panel.save();
        const QStringList files = QDir("log").entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY(files[0].endsWith(".log") && readWholeFile("log/" + files[0]).count('\n') == count);
    }

    // The last lines of a burst show without another line after them.
    void burstShownAtItsEnd()
    {
        ProgramFolder folder;
        UI_LogPanel panel(QStringLiteral("Detailed"));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const QScrollBar *rows = panel.findChild<LogView *>()->verticalScrollBar();
        for (int i = 0; i < 1000; ++i)
            panel.appendLog(QString::number(i), LogLevel::Plain, false);
        QTRY_VERIFY(rows->maximum() > 900 && rows->value() == rows->maximum());
    }

    // A run writing past the folder's bound: other runs' files go first, oldest first, then this
    // run's oldest parts; files of other names stay; what is left of the run ends with its newest
    // lines, whole, in parts that sort in the order they were written.
    void folderKeptWithinItsBound()
    {
        ProgramFolder folder;
        const QStringList older{"2026-01-01_00.00.00.log", "2026-01-02_00.00.00.0001.log",
                                "2026-01-02_00.00.00.log", "2026-01-03_00.00.00.log.unfinished"};
        const QStringList foreign{"notes.txt", "2026-01-01.log", "x2026-01-01_00.00.00.log",
                                  "2026-01-01_00.00.00.log.bak"};
        for (const QString &name : older + foreign)
            QVERIFY(writeWholeFile("log/" + name, QByteArray(12000, 'x') + '\n'));
        constexpr qint64 bound = 64000;
        JournalWriter writer(QStringLiteral("./log/"), bound);
        QByteArray all;
        QStringList sequence = older; // then this run's parts, as they are made
        QString stem;
        for (int batch = 0; batch < 150; ++batch) {
            std::vector<LogLine> lines;
            for (int i = 0; i < 20; ++i)
                lines.push_back({batch * 1000 + i, LogLevel::Plain, QString::number(batch * 100 + i)});
            for (const LogLine &line : lines)
                line.appendTo(all);
            writer.write(lines);
            if (stem.isEmpty())
                stem = QDir("log")
                           .entryList({"*.log.unfinished"})
                           .filter(QRegularExpression("^(?!2026-01)"))
                           .value(0)
                           .chopped(15);
            const auto part = [&](qsizetype n) {
                return stem + (n ? "." + QString::number(n) : "") + ".log.unfinished";
            };
            while (QFile::exists("log/" + part(sequence.size() - older.size())))
                sequence << part(sequence.size() - older.size());
            qint64 used = 0;
            bool kept = false; // once one is kept, all made after it are
            for (const QString &name : sequence) {
                QVERIFY2(QFile::exists("log/" + name) || !kept, qPrintable(name));
                kept = QFile::exists("log/" + name);
                used += QFileInfo("log/" + name).size();
            }
            QVERIFY(used <= bound);
        }
        QVERIFY(writer.finish(QStringLiteral("2026-02-01_00.00.00")));
        const QStringList run = QDir("log").entryList({"2026-02-01_*"}, QDir::Files, QDir::Name);
        QVERIFY(run.size() > 1 && run.first() == "2026-02-01_00.00.00.0001.log" &&
                run.last() == "2026-02-01_00.00.00.log");
        QByteArray kept;
        for (const QString &name : run)
            kept += readWholeFile("log/" + name);
        QVERIFY(kept.size() < all.size() && all.endsWith(kept) &&
                all.at(all.size() - kept.size() - 1) == '\n');
        for (const QString &name : foreign)
            QVERIFY(QFile::exists("log/" + name));
    }

    // The time stamp is built without the C library's clock functions: it must read as they would.
    void stampReadsAsTheClock_data()
    {
        QTest::addColumn<QDateTime>("when"); // as UTC, the local time it stands for
        for (const char *when :
             {"1970-01-01T00:00:00.000", "1969-12-31T23:59:59.999", "2000-02-29T12:34:56.007",
              "2024-02-29T23:59:59.999", "2100-03-01T00:00:00.000", "2026-12-31T09:08:07.060"})
            QTest::newRow(when) << QDateTime::fromString(when, Qt::ISODateWithMs).toTimeSpec(Qt::UTC);
    }
    void stampReadsAsTheClock()
    {
        QFETCH(QDateTime, when);
        QCOMPARE(LogLine({when.toMSecsSinceEpoch() + when.offsetFromUtc() * 1000, 0, {}}).stamp(),
                 when.toString("yyyy-MM-dd hh:mm:ss:zzz"));
        const QDateTime now = QDateTime::currentDateTime();
        const qint64 local = QDateTime(now.date(), now.time(), Qt::UTC).toMSecsSinceEpoch();
        QVERIFY(qAbs(LogClock().localMsecs() - local) < 1000);
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
