#include "log/UI_LogPanel.h"
#include "tests/support/LogText.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>

namespace {

// The character format of the message text of the last line.
QTextCharFormat lastMessageFormat(const UI_LogPanel &panel)
{
    QTextBlock block = panel.browserWidget()->document()->lastBlock();
    while (block.isValid() && block.text().isEmpty())
        block = block.previous();
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock);
    return cursor.charFormat();
}

QTextCharFormat lastTimeFormat(const UI_LogPanel &panel)
{
    QTextBlock block = panel.browserWidget()->document()->lastBlock();
    while (block.isValid() && block.text().isEmpty())
        block = block.previous();
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::NextCharacter);
    return cursor.charFormat();
}

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

class TestLogPanel : public QObject {
    Q_OBJECT

private slots:
    void constructorMode_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Detailed") << "Detailed" << int(LogStatus::Detailed) << true;
        QTest::newRow("Brief") << "Brief" << int(LogStatus::Brief) << true;
        QTest::newRow("Off greys the browser") << "Off" << int(LogStatus::Off) << false;
        QTest::newRow("empty means Detailed") << "" << int(LogStatus::Detailed) << true;
        QTest::newRow("a server mode means Detailed")
            << "Regular Expression" << int(LogStatus::Detailed) << true;
        QTest::newRow("case matters") << "brief" << int(LogStatus::Detailed) << true;
    }
    void constructorMode()
    {
        QFETCH(QString, mode);
        QFETCH(int, status);
        QFETCH(bool, enabled);
        UI_LogPanel panel(mode);
        QCOMPARE(panel.logStatus(), status);
        QCOMPARE(panel.browserWidget()->isEnabled(), enabled);
        QVERIFY2(panel.browserWidget()->toPlainText().isEmpty(), "construction writes no line");
    }

    void whatEachModeKeeps_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("Detailed keeps all")
            << "Detailed" << QStringList{"plain", "question", "answer", "unanswered"};
        QTest::newRow("Brief drops detailed-only") << "Brief" << QStringList{"plain", "question", "answer"};
        QTest::newRow("Off keeps nothing") << "Off" << QStringList{};
    }
    void whatEachModeKeeps()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, kept);
        UI_LogPanel panel(mode);
        panel.appendLog(QStringLiteral("plain"), LogLevel::Plain, false);
        panel.appendLog(QStringLiteral("question"), LogLevel::Question, false);
        panel.appendLog(QStringLiteral("answer"), LogLevel::Answer, false);
        panel.appendLog(QStringLiteral("unanswered"), LogLevel::Question, true);
        QCOMPARE(logMessages(panel), kept);
    }

    void levelFormats_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("hasColour");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<bool>("italic");
        QTest::addColumn<bool>("bold");
        QTest::newRow("0 plain") << 0 << false << QColor() << false << false;
        QTest::newRow("1 begins") << 1 << true << QColor(255, 0, 0) << false << false;
        QTest::newRow("2 succeeds") << 2 << true << QColor(135, 135, 135) << true << false;
        QTest::newRow("3 fails") << 3 << true << QColor(25, 27, 40) << true << false;
        QTest::newRow("4 question") << 4 << true << QColor(130, 70, 153) << false << false;
        QTest::newRow("5 answer") << 5 << true << QColor(0, 122, 179) << true << false;
        QTest::newRow("6 emphasis") << 6 << true << QColor(0, 0, 0) << false << true;
        QTest::newRow("9 as plain") << 9 << false << QColor() << false << false;
        QTest::newRow("-1 as plain") << -1 << false << QColor() << false << false;
    }
    void levelFormats()
    {
        QFETCH(int, level);
        QFETCH(bool, hasColour);
        QFETCH(QColor, colour);
        QFETCH(bool, italic);
        QFETCH(bool, bold);
        UI_LogPanel panel(QStringLiteral("Detailed"));
        // A line of another level first, so that no format lingers from it.
        panel.appendLog(QStringLiteral("before"), level == 6 ? 5 : 6, false);
        panel.appendLog(QStringLiteral("message"), level, false);
        const QTextCharFormat format = lastMessageFormat(panel);
        QCOMPARE(format.hasProperty(QTextFormat::ForegroundBrush), hasColour);
        if (hasColour)
            QCOMPARE(format.foreground().color(), colour);
        QCOMPARE(format.fontItalic(), italic);
        QCOMPARE(format.fontWeight() >= QFont::Bold, bold);
        const QTextCharFormat time = lastTimeFormat(panel);
        QVERIFY2(!time.hasProperty(QTextFormat::ForegroundBrush), "the time stamp keeps the default style");
        QVERIFY(!time.fontItalic());
    }

    void lineFormat()
    {
        UI_LogPanel panel(QStringLiteral("Detailed"));
        const QDateTime before = QDateTime::currentDateTime();
        panel.appendLog(QStringLiteral("Launching Tarnowlock..."), LogLevel::Begins, false);
        const QDateTime after = QDateTime::currentDateTime();
        const QString line = panel.browserWidget()->toPlainText().split(QLatin1Char('\n')).first();
        const QString stamp = line.left(23);
        const QDateTime when = QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz"));
        QVERIFY2(when.isValid(), qPrintable(line));
        QVERIFY(when >= before.addMSecs(-1) && when <= after);
        QCOMPARE(line.mid(23), QStringLiteral(" : Launching Tarnowlock..."));
        QVERIFY2(panel.browserWidget()->toPlainText().endsWith(QLatin1Char('\n')),
                 "each line ends its paragraph");
    }

    void modeChanges_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("changedLines");
        QTest::addColumn<int>("status");
        QTest::newRow("Brief twice from Detailed")
            << "Detailed" << QStringList{"Brief", "Brief"} << 1 << int(LogStatus::Brief);
        QTest::newRow("Detailed while Detailed")
            << "Detailed" << QStringList{"Detailed"} << 0 << int(LogStatus::Detailed);
        QTest::newRow("Off is silent") << "Detailed" << QStringList{"Off"} << 0 << int(LogStatus::Off);
        QTest::newRow("Off then Detailed")
            << "Detailed" << QStringList{"Off", "Detailed"} << 1 << int(LogStatus::Detailed);
        QTest::newRow("setStatus with a server mode")
            << "Brief" << QStringList{"set:Regular Expression"} << 1 << int(LogStatus::Detailed);
        QTest::newRow("setStatus with empty text")
            << "Off" << QStringList{"set:"} << 1 << int(LogStatus::Detailed);
        QTest::newRow("setStatus Off") << "Brief" << QStringList{"set:Off"} << 0 << int(LogStatus::Off);
        QTest::newRow("setStatus Brief")
            << "Detailed" << QStringList{"set:Brief"} << 1 << int(LogStatus::Brief);
    }
    void modeChanges()
    {
        QFETCH(QString, start);
        QFETCH(QStringList, calls);
        QFETCH(int, changedLines);
        QFETCH(int, status);
        UI_LogPanel panel(start);
        for (const QString &call : calls) {
            if (call.startsWith(QLatin1String("set:")))
                panel.setStatus(call.mid(4));
            else
                QVERIFY(QMetaObject::invokeMethod(&panel, qPrintable(call)));
        }
        QCOMPARE(logMessages(panel).count(QStringLiteral("Log status changed!")), changedLines);
        QCOMPARE(panel.logStatus(), status);
        QCOMPARE(panel.browserWidget()->isEnabled(), status != LogStatus::Off);
    }

    void lineIsPaintedAtOnce()
    {
        UI_LogPanel panel(QStringLiteral("Detailed"));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        PaintCounter counter;
        panel.installEventFilter(&counter);
        panel.appendLog(QStringLiteral("now"), LogLevel::Plain, false);
        // No event loop ran in between: the paint happened inside appendLog.
        QVERIFY(counter.paints > 0);
    }

    void offKeepsOldLines()
    {
        UI_LogPanel panel(QStringLiteral("Detailed"));
        panel.appendLog(QStringLiteral("kept"), LogLevel::Plain, false);
        panel.Off();
        panel.appendLog(QStringLiteral("dropped"), LogLevel::Plain, false);
        QCOMPARE(logMessages(panel), QStringList{"kept"});
        panel.Detailed();
        QCOMPARE(logMessages(panel), (QStringList{"kept", "Log status changed!"}));
        QCOMPARE(lastMessageFormat(panel).hasProperty(QTextFormat::ForegroundBrush), false);
    }

    void fileName()
    {
        const QDateTime when(QDate(2013, 1, 31), QTime(23, 59, 7));
        QCOMPARE(UI_LogPanel::fileNameFor(when), QStringLiteral("./log/2013-01-31_23.59.07.log"));
    }

    void saveWritesTheText()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("log")));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        UI_LogPanel panel(QStringLiteral("Detailed"));
        panel.appendLog(QStringLiteral("Launching Tarnowlock..."), LogLevel::Begins, false);
        panel.appendLog(QStringLiteral("Tarnowlock launched!"), LogLevel::Succeeds, false);
        const QDateTime before = QDateTime::currentDateTime();
        panel.save();
        const QDateTime after = QDateTime::currentDateTime();
        QDir::setCurrent(previous);

        const QStringList files = QDir(dir.filePath(QStringLiteral("log"))).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(files.first() == QFileInfo(UI_LogPanel::fileNameFor(before)).fileName() ||
                     files.first() == QFileInfo(UI_LogPanel::fileNameFor(after)).fileName(),
                 qPrintable(files.first()));
        QFile file(dir.filePath(QStringLiteral("log/") + files.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(file.readAll()), panel.browserWidget()->toPlainText());
        const QStringList lines =
            panel.browserWidget()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith(QLatin1String(" : Launching Tarnowlock...")));
        QVERIFY(lines.at(1).endsWith(QLatin1String(" : Tarnowlock launched!")));
    }

    void saveReplacesASameNamedFile()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("log")));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        // Every name this second could produce already holds a longer text.
        const QDateTime now = QDateTime::currentDateTime();
        for (int s = 0; s <= 2; ++s) {
            QFile old(UI_LogPanel::fileNameFor(now.addSecs(s)));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(10000, 'x'));
        }
        UI_LogPanel panel(QStringLiteral("Detailed"));
        panel.appendLog(QStringLiteral("short"), LogLevel::Plain, false);
        panel.save();
        QDir::setCurrent(previous);
        int replaced = 0;
        for (const QFileInfo &info : QDir(dir.filePath(QStringLiteral("log"))).entryInfoList(QDir::Files))
            replaced += info.size() < 10000 ? 1 : 0;
        QCOMPARE(replaced, 1);
    }

    void saveWithoutFileWhenOffOrNoFolder_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("logFolder");
        QTest::newRow("Off writes nothing") << "Off" << true;
        QTest::newRow("missing log folder is silent") << "Detailed" << false;
    }
    void saveWithoutFileWhenOffOrNoFolder()
    {
        QFETCH(QString, mode);
        QFETCH(bool, logFolder);
        QTemporaryDir dir;
        if (logFolder)
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("log")));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        UI_LogPanel panel(mode);
        panel.appendLog(QStringLiteral("line"), LogLevel::Plain, false);
        panel.save();
        QDir::setCurrent(previous);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 logFolder ? QStringList{"log"} : QStringList{});
        if (logFolder)
            QVERIFY(QDir(dir.filePath(QStringLiteral("log"))).isEmpty());
    }
};

QTEST_MAIN(TestLogPanel)
#include "tst_uilogpanel.moc"
