#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "log/UI_LogPanel.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/LogText.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUuid>

namespace {

QRect centred800x600()
{
    const QRect desktop = QGuiApplication::primaryScreen()->geometry();
    const int left = (desktop.right() - desktop.left() - 799) / 2;
    const int top = (desktop.bottom() - desktop.top() - 599) / 2;
    return QRect(left, top, 800, 600);
}

// Runs the event loop until something quits it; false when nothing did within the time.
bool quitsWithin(int ms)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    deadline.start(ms);
    return QCoreApplication::exec() == 0;
}

} // namespace

// Port 0: the server binds any free port, never the machine's 53.
constexpr quint16 anyPort = 0;

class TestMainWindow : public QObject {
    Q_OBJECT

    FakePlatform platform;
    QTemporaryDir workDir; // the working directory: DNS, log/
    QString previousDir;

private slots:
    void initTestCase()
    {
        previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workDir.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(previousDir); }

    void startUpLogsAndTitle()
    {
        MainWindow window(1, platform, nullptr, anyPort);
        const QStringList messages = logMessages(*window.logPanelWidget());
        QCOMPARE(messages.first(), QStringLiteral("Launching Tarnowlock..."));
        QCOMPARE(messages.last(), QStringLiteral("Tarnowlock launched!"));
        // The server starts in between, in the wildcard mode while no mode is stored.
        QVERIFY(messages.contains(QStringLiteral("Server set to wildcard!")));
        QVERIFY(messages.indexOf(QStringLiteral("0 rules in total. Server started!")) < messages.size() - 1);
        // A fresh settings file selects default.hosts; the title follows it before the library is read.
        QCOMPARE(window.windowTitle(), QStringLiteral("[default.hosts] - Tarnowlock 0.3 Beta"));
    }

    void windowPlacement_data()
    {
        QTest::addColumn<int>("argumentCount");
        QTest::addColumn<bool>("shown");
        QTest::newRow("no argument: shown centred") << 1 << true;
        QTest::newRow("any argument: hidden") << 2 << false;
        QTest::newRow("several arguments: hidden") << 3 << false;
    }
    void windowPlacement()
    {
        QFETCH(int, argumentCount);
        QFETCH(bool, shown);
        MainWindow window(argumentCount, platform, nullptr, anyPort);
        QCOMPARE(window.isVisible(), shown);
        QCOMPARE(window.geometry() == centred800x600(), shown);
    }

    void shieldEntry_data()
    {
        QTest::addColumn<bool>("admin");
        QTest::newRow("administrator: no shield") << true;
        QTest::newRow("not administrator: shield at the end") << false;
    }
    void shieldEntry()
    {
        QFETCH(bool, admin);
        platform.admin = admin;
        MainWindow window(1, platform, nullptr, anyPort);
        const QList<QAction *> actions = window.menuBarWidget()->actions();
        QVERIFY(!actions.isEmpty());
        QCOMPARE(actions.first()->text(), QStringLiteral("File(&F)"));
        const QAction *last = actions.last();
        QCOMPARE(last->menu() == nullptr, !admin);
        if (!admin) {
            QVERIFY(last->text().isEmpty());
            QVERIFY(!last->icon().pixmap(16, 16).isNull());
        }
        platform.admin = true;
    }

    void elevatedRestart_data()
    {
        QTest::addColumn<bool>("accepted");
        QTest::newRow("accepted: this instance quits") << true;
        QTest::newRow("declined: this instance runs on") << false;
    }
    void elevatedRestart()
    {
        QFETCH(bool, accepted);
        const QString key = QStringLiteral("tst-") + QUuid::createUuid().toString(QUuid::Id128);
        SingleInstance instance(key);
        QVERIFY(!instance.isRunning());
        platform.elevationAccepted = accepted;
        bool claimFreeWhileElevating = false;
        platform.whileElevating = [&] {
            SingleInstance elevated(key);
            claimFreeWhileElevating = !elevated.isRunning();
        };
        MainWindow window(1, platform, &instance, anyPort);
        platform.calls.clear();
        QTimer::singleShot(0, &window, &MainWindow::runAsAdmin);
        QCOMPARE(quitsWithin(1000), accepted);
        QCOMPARE(platform.calls, QStringList{"startElevated " + platform.executable});
        QVERIFY2(claimFreeWhileElevating, "the elevated copy must find no instance running");
        QCOMPARE(instance.isRunning(), false); // isRunning claims it again when free
        if (!accepted) {
            SingleInstance later(key);
            QVERIFY2(later.isRunning(), "after a declined prompt this instance holds its claim again");
        }
        platform.whileElevating = nullptr;
        platform.elevationAccepted = true;
    }

    void noExecutablePathDoesNothing()
    {
        platform.executable.clear();
        MainWindow window(1, platform, nullptr, anyPort);
        platform.calls.clear();
        window.runAsAdmin();
        QVERIFY(platform.calls.isEmpty());
        platform.executable = QStringLiteral("/opt/tarnowlock/tarnowlock");
    }

    void closingHides()
    {
        MainWindow window(1, platform, nullptr, anyPort);
        QVERIFY(window.isVisible());
        QVERIFY(!window.close());
        QVERIFY(!window.isVisible());
    }

    void cleanUpHidesAndSavesTheLog()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("log")));
        QVERIFY(QDir::setCurrent(dir.path()));
        {
            MainWindow window(1, platform, nullptr, anyPort);
            window.cleanUp();
            QVERIFY(!window.isVisible());
        }
        QVERIFY(QDir::setCurrent(workDir.path()));
        const QStringList files = QDir(dir.filePath(QStringLiteral("log"))).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QFile file(dir.filePath(QStringLiteral("log/") + files.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Tarnowlock launched!"));
    }

    void quitEntry()
    {
        MainWindow window(1, platform, nullptr, anyPort);
        QAction *file = window.menuBarWidget()->actions().first();
        const QList<QAction *> entries = file->menu()->actions();
        QCOMPARE(entries.last()->text(), QStringLiteral("Quit(&Q)"));
        QCOMPARE(entries.last()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        QTimer::singleShot(0, entries.last(), &QAction::trigger);
        QVERIFY(quitsWithin(1000));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
