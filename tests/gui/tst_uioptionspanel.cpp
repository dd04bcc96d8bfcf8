#include "options/HostsColumns.h"
#include "options/SpinBoxDelegate.h"
#include "options/UI_OptionsPanel.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/SqlFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString settingsFile = QStringLiteral("settings");
const QString executable = QStringLiteral("/opt/tarnowlock/tarnowlock");
const QColor rowColour(153, 206, 235);

const QString nothingSelectedBox = QStringLiteral("information||Please select at least one hosts!|Ok");
const QString overLimitBox =
    QStringLiteral("critical||You've selected over 2MB hosts file(s) in total.\n"
                   "And that may cause the system to be EXTEMELY slow!\nContinue?|Yes No");
const QString notCreatedBox =
    QStringLiteral("information||Create default settings failed! Please 'Run as administrator'|Ok");
const QString neverTip = QStringLiteral("'-1 Days' means never update automatically");
const QString everyStartTip = QStringLiteral("'0 Days' means update every time launched");

// One row of the Hosts table as a test writes it.
struct StoredList {
    QString name;
    int selected = 0;
    QString url;
    QString lastUpdate;
    int frequency = 7;
};

// Empty text is stored as text, not as NULL (which no settings file of ours holds).
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

QStringList storedHosts()
{
    return sqlRows(
        settingsFile,
        QStringLiteral(
            "select Name, Selected, UpdateUrl, LastUpdate, UpdateFrequency from Hosts order by rowid"));
}

QString storedSetting(const QString &key)
{
    return sqlRows(settingsFile, QStringLiteral("select Value from General where Key = '%1'").arg(key))
        .join(QLatin1Char(','));
}

// Writes a settings file: General with Editor "gedit" and the other defaults unless `general`
// says otherwise, and Hosts with `lists`.
void writeSettings(const QList<StoredList> &lists, const QMap<QString, QString> &general = {})
{
    QMap<QString, QString> values{{QStringLiteral("Server"), QStringLiteral("Wildcard")},
                                  {QStringLiteral("Log"), QStringLiteral("Detailed")},
                                  {QStringLiteral("Editor"), QStringLiteral("gedit")},
                                  {QStringLiteral("Launch"), QStringLiteral("No")}};
    values.insert(general);
    QStringList statements{
        QStringLiteral("create table General(Key char, Value char)"),
        QStringLiteral("create table Hosts(Name char, Selected int, UpdateUrl char, LastUpdate char, "
                       "UpdateFrequency int)")};
    QList<QVariantList> bound{{}, {}};
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        statements << QStringLiteral("insert into General values(?, ?)");
        bound << QVariantList{it.key(), text(it.value())};
    }
    for (const StoredList &list : lists) {
        statements << QStringLiteral("insert into Hosts values(?, ?, ?, ?, ?)");
        bound << QVariantList{list.name, list.selected, text(list.url), text(list.lastUpdate),
                              list.frequency};
    }
    const QString failure = runSql(settingsFile, statements, bound);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// Files of ./hosts/, each of the given size.
void makeHostsFiles(const QList<std::pair<QString, qint64>> &files)
{
    QVERIFY(QDir().mkpath(QStringLiteral("hosts")));
    for (const auto &[name, size] : files) {
        QFile file(QStringLiteral("hosts/") + name);
        QVERIFY2(file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'x')) == size,
                 qPrintable(name));
    }
}

QAbstractButton *dialogButton(const UI_OptionsPanel &panel, QDialogButtonBox::StandardButton which)
{
    const auto *box = panel.findChild<QDialogButtonBox *>();
    return box ? box->button(which) : nullptr;
}

QPushButton *pushButton(const UI_OptionsPanel &panel, const QString &text)
{
    for (QPushButton *button : panel.findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

QLineEdit *editorLine(const UI_OptionsPanel &panel)
{
    return panel.findChild<QLineEdit *>(QString(), Qt::FindDirectChildrenOnly);
}

QCommandLinkButton *linkButton(const UI_OptionsPanel &panel, int row, int column)
{
    return qobject_cast<QCommandLinkButton *>(panel.hostsTable->cellWidget(row, column));
}

// Each list row as "checked|file|source|last update|frequency|frequency tooltip".
QStringList describeRows(const UI_OptionsPanel &panel)
{
    QStringList rows;
    for (int row = 0; row < panel.hostsTable->rowCount() - 1; ++row) {
        const QCheckBox *box = panel.selectBox(row);
        const QCommandLinkButton *file = linkButton(panel, row, HostsColumn::HostsFile);
        const QCommandLinkButton *sync = linkButton(panel, row, HostsColumn::LastUpdate);
        const QTableWidgetItem *source = panel.hostsTable->item(row, HostsColumn::Source);
        const QTableWidgetItem *frequency = panel.hostsTable->item(row, HostsColumn::Frequency);
        if (!box || !file || !sync || !source || !frequency) {
            rows << QStringLiteral("row %1 incomplete").arg(row);
            continue;
        }
        rows << QStringList{box->isChecked() ? QStringLiteral("1") : QStringLiteral("0"),
                            file->text(),
                            source->text(),
                            sync->text(),
                            frequency->text(),
                            frequency->toolTip()}
                    .join(QLatin1Char('|'));
    }
    return rows;
}

QStringList listNames(const UI_OptionsPanel &panel)
{
    QStringList names;
    for (const std::unique_ptr<HostsEntry> &entry : panel.hostsList)
        names << entry->name;
    return names;
}

// The background of cell (row, column): "none" without an item, "clear" for an item without a
// visible colour, else the colour.
QString background(const UI_OptionsPanel &panel, int row, int column)
{
    const QTableWidgetItem *item = panel.hostsTable->item(row, column);
    if (!item)
        return QStringLiteral("none");
    const QBrush brush = item->background();
    return brush.style() == Qt::NoBrush || brush.color().alpha() == 0 ? QStringLiteral("clear")
                                                                      : brush.color().name(QColor::HexArgb);
}

QStringList rowBackgrounds(const UI_OptionsPanel &panel, int row)
{
    QStringList colours;
    for (int column = 0; column < HostsColumn::Count; ++column)
        colours << background(panel, row, column);
    return colours;
}

const QString blue = rowColour.name(QColor::HexArgb);
const QString clear = QStringLiteral("clear");
const QStringList selectedBackgrounds{blue, blue, blue, blue, blue};
const QStringList unselectedBackgrounds{QStringLiteral("none"), QStringLiteral("none"), clear,
                                        QStringLiteral("none"), clear};

} // namespace

class TestUiOptionsPanel : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void dialogLayout();
    void firstStartCreatesSettings();
    void creationFailureShowsMessage();
    void damagedFileReportedAndKept();
    void storedModeShown_data();
    void storedModeShown();
    void okWithNothingSelected();
    void sizeLimit_data();
    void sizeLimit();
    void applySkipsSelectionCheck();
    void cancelKeepsSourceEdits();
    void reloadDropsUnsavedChanges();
    void startupEntry_data();
    void startupEntry();
    void tableShowsReconciledLists();
    void missingFolderLeavesLastRowOnly();
    void rowColoursFollowCheckBox();
    void frequencyEditedInTable_data();
    void frequencyEditedInTable();
    void openHostsFileUsesStoredEditor();
    void folderButtons();
    void editorChoice();

private:
    std::unique_ptr<UI_OptionsPanel> makePanel();

    FakePlatform platform;
    std::unique_ptr<QTemporaryDir> dir;
    QString previousDir;
};

void TestUiOptionsPanel::initTestCase()
{
    // The icons live in a static library; the main window registers them in the program.
    Q_INIT_RESOURCE(resources);
    previousDir = QDir::currentPath();
    platform.executable = executable;
}

void TestUiOptionsPanel::cleanupTestCase()
{
    QDir::setCurrent(previousDir);
}

void TestUiOptionsPanel::init()
{
    // The dialog works with relative paths: every test runs in a fresh folder of its own.
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(QDir::setCurrent(dir->path()));
    platform.calls.clear();
}

void TestUiOptionsPanel::cleanup()
{
    QVERIFY(QDir::setCurrent(previousDir));
    dir.reset();
    // Every load and save closes and removes its connection again.
    QVERIFY(!QSqlDatabase::contains());
}

std::unique_ptr<UI_OptionsPanel> TestUiOptionsPanel::makePanel()
{
    auto panel = std::make_unique<UI_OptionsPanel>(platform);
    panel->loadHostsList();
    panel->show();
    return panel;
}

void TestUiOptionsPanel::dialogLayout()
{
    UI_OptionsPanel panel(platform);

    QCOMPARE(panel.windowTitle(), QStringLiteral("Options"));
    QCOMPARE(panel.size(), QSize(800, 600));
    QVERIFY(!panel.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
    QVERIFY(panel.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(panel.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    auto *grid = qobject_cast<QGridLayout *>(panel.layout());
    QVERIFY(grid);
    const auto at = [grid](int row, int column) {
        QLayoutItem *item = grid->itemAtPosition(row, column);
        return item ? item->widget() : nullptr;
    };
    const auto span = [grid](QWidget *widget) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(grid->indexOf(widget), &row, &column, &rows, &columns);
        return QStringLiteral("%1,%2 %3x%4").arg(row).arg(column).arg(rows).arg(columns);
    };
    // Captions: labels for Launch and Server, buttons for the others.
    const std::pair<const char *, bool> captions[] = {
        {"Launch", true}, {"Server", true}, {"Log", false}, {"Editor", false}, {"Hosts", false}};
    for (int row = 0; row < 5; ++row) {
        const auto &[text, isLabel] = captions[row];
        const auto *label = qobject_cast<QLabel *>(at(row, 0));
        const auto *button = qobject_cast<QPushButton *>(at(row, 0));
        QVERIFY2(isLabel ? label != nullptr : button != nullptr, text);
        QCOMPARE(label ? label->text() : button->text(), QString::fromLatin1(text));
        if (label)
            QCOMPARE(label->alignment(), Qt::Alignment(Qt::AlignCenter));
        QCOMPARE(qobject_cast<QLabel *>(at(row, 1))->text(), QStringLiteral(":"));
        QCOMPARE(span(at(row, 2)), QStringLiteral("%1,2 %2x8").arg(row).arg(row == 4 ? 5 : 1));
    }
    QCOMPARE(span(at(4, 0)), QStringLiteral("4,0 5x1"));
    QCOMPARE(span(at(4, 1)), QStringLiteral("4,1 5x1"));

    QCOMPARE(at(0, 2), panel.launchBox);
    QCOMPARE(panel.launchBox->text(), QStringLiteral("Along with Windows startup"));
    QCOMPARE(at(1, 2), panel.serverCombo);
    QCOMPARE(at(2, 2), panel.logCombo);
    QCOMPARE(at(3, 2), editorLine(panel));
    QVERIFY(at(4, 2)->isAncestorOf(panel.hostsTable));

    const auto items = [](const QComboBox *combo) {
        QStringList texts;
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
        return texts;
    };
    QCOMPARE(items(panel.serverCombo),
             (QStringList{QStringLiteral("Wildcard"), QStringLiteral("Regular Expression"),
                          QStringLiteral("Off")}));
    QCOMPARE(items(panel.logCombo),
             (QStringList{QStringLiteral("Detailed"), QStringLiteral("Brief"), QStringLiteral("Off")}));

    const auto *buttons = qobject_cast<QDialogButtonBox *>(at(9, 9));
    QVERIFY(buttons);
    QCOMPARE(span(at(9, 9)), QStringLiteral("9,9 1x1"));
    QCOMPARE(buttons->orientation(), Qt::Horizontal);
    QCOMPARE(buttons->standardButtons(),
             QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply);
    QCOMPARE(grid->rowCount(), 10);

    // The table is built empty; its rows come with the first loadHostsList().
    QCOMPARE(panel.hostsTable->rowCount(), 0);
    QCOMPARE(panel.hostsTable->columnCount(), 5);
    QStringList headers;
    for (int column = 0; column < 5; ++column)
        headers << panel.hostsTable->horizontalHeaderItem(column)->text();
    QCOMPARE(headers,
             (QStringList{QStringLiteral("Select"), QStringLiteral("Hosts File"), QStringLiteral("Source"),
                          QStringLiteral("Last Update"), QStringLiteral("Frequency")}));
    QCOMPARE(panel.hostsTable->horizontalHeader()->sectionResizeMode(HostsColumn::Source),
             QHeaderView::Stretch);
    QCOMPARE(panel.hostsTable->horizontalHeader()->sectionResizeMode(HostsColumn::Frequency),
             QHeaderView::Interactive);
    QVERIFY(!panel.hostsTable->wordWrap());
    QVERIFY(qobject_cast<SpinBoxDelegate *>(panel.hostsTable->itemDelegateForColumn(HostsColumn::Frequency)));
    QVERIFY(!qobject_cast<SpinBoxDelegate *>(panel.hostsTable->itemDelegateForColumn(HostsColumn::Source)));
}

void TestUiOptionsPanel::firstStartCreatesSettings()
{
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    RecordingLog log;
    UI_OptionsPanel panel(platform);
    panel.setLogPanel(&log);

    QVERIFY(answerer.shown.isEmpty());
    QVERIFY(log.lines.isEmpty());
    QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{settingsFile});
    QCOMPARE(
        sqlRows(settingsFile, QStringLiteral("select type, name, sql from sqlite_master order by rowid")),
        (QStringList{QStringLiteral("table|General|CREATE TABLE General(Key char, Value char)"),
                     QStringLiteral("table|Hosts|CREATE TABLE Hosts(Name char, Selected int, UpdateUrl char, "
                                    "LastUpdate char, UpdateFrequency int)")}));
    QCOMPARE(sqlRows(settingsFile, QStringLiteral("select Key, Value from General order by rowid")),
             (QStringList{QStringLiteral("Server|Wildcard"), QStringLiteral("Log|Detailed"),
                          QStringLiteral("Editor|xdg-open"), QStringLiteral("Launch|No")}));
    // The addresses of the public lists belong to the store and are checked with it.
    QCOMPARE(sqlRows(settingsFile,
                     QStringLiteral("select Name, Selected, LastUpdate, UpdateFrequency, typeof(Selected), "
                                    "typeof(LastUpdate), typeof(UpdateFrequency) from Hosts order by rowid")),
             (QStringList{QStringLiteral("default.hosts|1||0|integer|text|integer"),
                          QStringLiteral("hphosts.hosts|0||-1|integer|text|integer"),
                          QStringLiteral("IPV6.hosts|0||7|integer|text|integer"),
                          QStringLiteral("mvps.hosts|0||7|integer|text|integer"),
                          QStringLiteral("someone.hosts|0||7|integer|text|integer"),
                          QStringLiteral("pgl.hosts|0||7|integer|text|integer"),
                          QStringLiteral("sysctl.hosts|0||7|integer|text|integer"),
                          QStringLiteral("mine.hosts|0||7|integer|text|integer"),
                          QStringLiteral("malware.hosts|0||7|integer|text|integer"),
                          QStringLiteral("adbin.hosts|0||7|integer|text|integer")}));
    const QStringList urls =
        sqlRows(settingsFile, QStringLiteral("select UpdateUrl from Hosts order by rowid"));
    QCOMPARE(urls.value(0), QStringLiteral("file:///etc/hosts"));
    for (int row = 1; row < urls.size(); ++row)
        QVERIFY2(urls.at(row).startsWith(QLatin1String("http")), qPrintable(urls.at(row)));

    QCOMPARE(panel.getSetting(QStringLiteral("Server")), QStringLiteral("Wildcard"));
    QCOMPARE(panel.getSetting(QStringLiteral("Log")), QStringLiteral("Detailed"));
    QCOMPARE(panel.getSetting(QStringLiteral("Editor")), QStringLiteral("xdg-open"));
    QCOMPARE(panel.getSetting(QStringLiteral("Launch")), QStringLiteral("No"));
    QCOMPARE(panel.getSetting(QStringLiteral("Unknown")), QString());
    QVERIFY(!panel.launchBox->isChecked());
    QCOMPARE(panel.serverCombo->currentText(), QStringLiteral("Wildcard"));
    QCOMPARE(panel.logCombo->currentText(), QStringLiteral("Detailed"));
    QCOMPARE(editorLine(panel)->text(), QStringLiteral("xdg-open"));
    QCOMPARE(panel.hostsList.size(), size_t(10));
    QCOMPARE(panel.hostsList.front()->name, QStringLiteral("default.hosts"));
    QVERIFY(panel.hostsList.front()->selected);
}

void TestUiOptionsPanel::creationFailureShowsMessage()
{
    // A dangling link: there is no file, and none can be made where the link points.
    const QString unreachable = dir->filePath(QStringLiteral("missing/settings"));
    QVERIFY(QFile::link(unreachable, settingsFile));

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    UI_OptionsPanel panel(platform);

    QCOMPARE(answerer.shown, QStringList{notCreatedBox});
    QVERIFY(!QFileInfo::exists(unreachable));
    QCOMPARE(panel.getSetting(QStringLiteral("Server")), QStringLiteral("Wildcard"));
    QCOMPARE(panel.getSetting(QStringLiteral("Log")), QStringLiteral("Detailed"));
    QCOMPARE(panel.getSetting(QStringLiteral("Editor")), QStringLiteral("xdg-open"));
    QCOMPARE(panel.getSetting(QStringLiteral("Launch")), QStringLiteral("No"));
    QVERIFY(panel.hostsList.empty());
    QCOMPARE(panel.serverCombo->currentText(), QStringLiteral("Wildcard"));
}

void TestUiOptionsPanel::damagedFileReportedAndKept()
{
    {
        QFile file(settingsFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a database");
    }
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    RecordingLog log;
    UI_OptionsPanel panel(platform);
    QVERIFY(log.lines.isEmpty());
    panel.setLogPanel(&log);

    QVERIFY(answerer.shown.isEmpty());
    QCOMPARE(log.lines, QStringList{QStringLiteral(
                            "3 Settings file 'settings' is damaged; using the built-in defaults")});
    QCOMPARE(readAll(settingsFile), QByteArray("not a database"));
    QCOMPARE(panel.serverCombo->currentText(), QStringLiteral("Wildcard"));
    QCOMPARE(editorLine(panel)->text(), QStringLiteral("xdg-open"));
    QVERIFY(panel.hostsList.empty());
}

void TestUiOptionsPanel::storedModeShown_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");

    const QString server = QStringLiteral("Server");
    const QString log = QStringLiteral("Log");
    QTest::newRow("Server Wildcard") << server << QStringLiteral("Wildcard") << QStringLiteral("Wildcard");
    QTest::newRow("Server wildcard") << server << QStringLiteral("wildcard") << QStringLiteral("Wildcard");
    QTest::newRow("Server WILDCARD") << server << QStringLiteral("WILDCARD") << QStringLiteral("Wildcard");
    QTest::newRow("Server empty") << server << QString() << QStringLiteral("Wildcard");
    QTest::newRow("Server Regular Expression")
        << server << QStringLiteral("Regular Expression") << QStringLiteral("Regular Expression");
    QTest::newRow("Server regular expression")
        << server << QStringLiteral("regular expression") << QStringLiteral("Wildcard");
    QTest::newRow("Server Off") << server << QStringLiteral("Off") << QStringLiteral("Off");
    QTest::newRow("Server OFF") << server << QStringLiteral("OFF") << QStringLiteral("Wildcard");
    QTest::newRow("Server 'Off '") << server << QStringLiteral("Off ") << QStringLiteral("Wildcard");
    QTest::newRow("Log Detailed") << log << QStringLiteral("Detailed") << QStringLiteral("Detailed");
    QTest::newRow("Log Brief") << log << QStringLiteral("Brief") << QStringLiteral("Brief");
    QTest::newRow("Log brief") << log << QStringLiteral("brief") << QStringLiteral("Detailed");
    QTest::newRow("Log Off") << log << QStringLiteral("Off") << QStringLiteral("Off");
    QTest::newRow("Log empty") << log << QString() << QStringLiteral("Detailed");
}

void TestUiOptionsPanel::storedModeShown()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, shown);

    writeSettings({}, {{key, stored}});
    UI_OptionsPanel panel(platform);
    const QComboBox *combo = key == QLatin1String("Server") ? panel.serverCombo : panel.logCombo;
    QCOMPARE(combo->currentText(), shown);
    // The stored text stands until the next save, which stores the item shown.
    QCOMPARE(panel.getSetting(key), stored);

    panel.save();
    QCOMPARE(storedSetting(key), shown);
    QCOMPARE(panel.getSetting(key), shown);
}

void TestUiOptionsPanel::okWithNothingSelected()
{
    writeSettings({{QStringLiteral("a.hosts"), 0, QStringLiteral("http://example.com/a"), QString(), 7}});
    makeHostsFiles({{QStringLiteral("a.hosts"), 10}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();
    panel->serverCombo->setCurrentIndex(2);
    const QByteArray before = readAll(settingsFile);

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    dialogButton(*panel, QDialogButtonBox::Ok)->click();

    QCOMPARE(answerer.shown, QStringList{nothingSelectedBox});
    QVERIFY(panel->isVisible());
    QCOMPARE(readAll(settingsFile), before);
    QCOMPARE(panel->getSetting(QStringLiteral("Server")), QStringLiteral("Wildcard"));
    QVERIFY(platform.calls.filter(QStringLiteral("setStartupEntry")).isEmpty());
}

void TestUiOptionsPanel::sizeLimit_data()
{
    QTest::addColumn<QList<qint64>>("sizes");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("stored");

    const QList<qint64> limit{1048576, 1048576};
    const QList<qint64> byteMore{1048576, 1048577};
    QTest::newRow("exactly 2097152 bytes") << limit << QMessageBox::No << false << true;
    QTest::newRow("exactly 2097152 bytes in one file")
        << QList<qint64>{2097152, 0} << QMessageBox::No << false << true;
    QTest::newRow("one byte more, Yes") << byteMore << QMessageBox::Yes << true << true;
    QTest::newRow("one byte more, No") << byteMore << QMessageBox::No << true << false;
}

void TestUiOptionsPanel::sizeLimit()
{
    QFETCH(QList<qint64>, sizes);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, asked);
    QFETCH(bool, stored);

    const QString a = QStringLiteral("a.hosts");
    const QString b = QStringLiteral("b.hosts");
    writeSettings({{a, 0, QString(), QString(), 7}, {b, 0, QString(), QString(), 7}});
    makeHostsFiles({{a, sizes.at(0)}, {b, sizes.at(1)}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();
    panel->selectBox(0)->setChecked(true);
    panel->selectBox(1)->setChecked(true);
    const QByteArray before = readAll(settingsFile);

    MessageBoxAnswerer answerer(answer);
    dialogButton(*panel, QDialogButtonBox::Ok)->click();

    QCOMPARE(answerer.shown, asked ? QStringList{overLimitBox} : QStringList());
    QCOMPARE(panel->isVisible(), !stored);
    QCOMPARE(panel->result(), stored ? int(QDialog::Accepted) : int(QDialog::Rejected));
    if (stored) {
        QCOMPARE(storedHosts(), (QStringList{a + QStringLiteral("|1|||7"), b + QStringLiteral("|1|||7")}));
    } else {
        QCOMPARE(readAll(settingsFile), before);
        QVERIFY(!panel->hostsList.front()->selected);
    }
}

void TestUiOptionsPanel::applySkipsSelectionCheck()
{
    writeSettings({{QStringLiteral("a.hosts"), 1, QString(), QString(), 7},
                   {QStringLiteral("big.hosts"), 0, QString(), QString(), 7}});
    makeHostsFiles({{QStringLiteral("a.hosts"), 1}, {QStringLiteral("big.hosts"), 2097153}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();
    MessageBoxAnswerer answerer(QMessageBox::No);

    // Nothing selected: stored without a word.
    panel->selectBox(0)->setChecked(false);
    panel->logCombo->setCurrentIndex(1);
    dialogButton(*panel, QDialogButtonBox::Apply)->click();
    QVERIFY(answerer.shown.isEmpty());
    QVERIFY(panel->isVisible());
    QCOMPARE(storedHosts(),
             (QStringList{QStringLiteral("a.hosts|0|||7"), QStringLiteral("big.hosts|0|||7")}));
    QCOMPARE(storedSetting(QStringLiteral("Log")), QStringLiteral("Brief"));

    // Over the limit: no question either.
    panel->selectBox(1)->setChecked(true);
    dialogButton(*panel, QDialogButtonBox::Apply)->click();
    QVERIFY(answerer.shown.isEmpty());
    QVERIFY(panel->isVisible());
    QCOMPARE(storedHosts(),
             (QStringList{QStringLiteral("a.hosts|0|||7"), QStringLiteral("big.hosts|1|||7")}));
}

void TestUiOptionsPanel::cancelKeepsSourceEdits()
{
    const QString oldUrl = QStringLiteral("http://example.com/a");
    const QString newUrl = QStringLiteral("https://example.org/new list");
    writeSettings({{QStringLiteral("a.hosts"), 1, oldUrl, QStringLiteral("2024-03-01"), 7}});
    makeHostsFiles({{QStringLiteral("a.hosts"), 1}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();
    const QByteArray before = readAll(settingsFile);

    panel->hostsTable->item(0, HostsColumn::Source)->setText(newUrl);
    QCOMPARE(panel->hostsList.front()->updateUrl, QUrl(newUrl, QUrl::TolerantMode));

    dialogButton(*panel, QDialogButtonBox::Cancel)->click();
    QVERIFY(!panel->isVisible());
    QCOMPARE(panel->result(), int(QDialog::Rejected));
    QCOMPARE(readAll(settingsFile), before);
    QCOMPARE(panel->hostsList.front()->updateUrl, QUrl(newUrl, QUrl::TolerantMode));

    // The edit survives a rebuild of the table and is written by the next save.
    panel->loadHostsList();
    QCOMPARE(panel->hostsTable->item(0, HostsColumn::Source)->text(),
             QStringLiteral("https://example.org/new list"));
    panel->save();
    QCOMPARE(storedHosts(),
             QStringList{QStringLiteral("a.hosts|1|https://example.org/new list|2024-03-01|7")});
}

void TestUiOptionsPanel::reloadDropsUnsavedChanges()
{
    writeSettings({{QStringLiteral("a.hosts"), 0, QStringLiteral("http://example.com/a"), QString(), 7}});
    makeHostsFiles({{QStringLiteral("a.hosts"), 1}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();

    panel->selectBox(0)->setChecked(true);
    panel->hostsTable->item(0, HostsColumn::Frequency)->setText(QStringLiteral("30 Days"));
    panel->hostsTable->item(0, HostsColumn::Source)->setText(QStringLiteral("http://example.com/edited"));
    QCOMPARE(rowBackgrounds(*panel, 0), selectedBackgrounds);
    makeHostsFiles({{QStringLiteral("b.hosts"), 1}});

    QCommandLinkButton *reload = linkButton(*panel, 1, HostsColumn::Select);
    QVERIFY(reload);
    QCOMPARE(reload->text(), QStringLiteral("Reload hosts list"));
    reload->click();

    QCOMPARE(describeRows(*panel),
             (QStringList{QStringLiteral("0|a.hosts|http://example.com/edited|Never|7 Days|"),
                          QStringLiteral("0|b.hosts||Never|-1 Days|") + neverTip}));
    QCOMPARE(rowBackgrounds(*panel, 0), unselectedBackgrounds);
    // The old last row is a list row now: no span of its own is left over.
    QCOMPARE(panel->hostsTable->columnSpan(1, HostsColumn::Select), 1);
    QCOMPARE(panel->hostsTable->columnSpan(1, HostsColumn::LastUpdate), 1);
    QCOMPARE(panel->hostsTable->columnSpan(2, HostsColumn::Select), 3);
    QVERIFY(!panel->hostsList.front()->selected);
}

void TestUiOptionsPanel::startupEntry_data()
{
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QDialogButtonBox::StandardButton>("button");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("stored");

    const QString on = QStringLiteral("setStartupEntry on ") + executable;
    const QString off = QStringLiteral("setStartupEntry off ") + executable;
    QTest::newRow("checked, OK") << true << QDialogButtonBox::Ok << on << QStringLiteral("Yes");
    QTest::newRow("unchecked, Apply") << false << QDialogButtonBox::Apply << off << QStringLiteral("No");
    QTest::newRow("checked, Apply") << true << QDialogButtonBox::Apply << on << QStringLiteral("Yes");
    QTest::newRow("unchecked, OK") << false << QDialogButtonBox::Ok << off << QStringLiteral("No");
}

void TestUiOptionsPanel::startupEntry()
{
    QFETCH(bool, checked);
    QFETCH(QDialogButtonBox::StandardButton, button);
    QFETCH(QString, call);
    QFETCH(QString, stored);

    const QString storedBefore = checked ? QStringLiteral("No") : QStringLiteral("Yes");
    writeSettings({{QStringLiteral("a.hosts"), 1, QString(), QString(), 7}},
                  {{QStringLiteral("Launch"), storedBefore}});
    makeHostsFiles({{QStringLiteral("a.hosts"), 1}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();
    QCOMPARE(panel->launchBox->isChecked(), !checked);

    // Toggling alone changes nothing outside the dialog.
    panel->launchBox->setChecked(checked);
    QVERIFY(platform.calls.isEmpty());

    dialogButton(*panel, button)->click();
    QCOMPARE(platform.calls, QStringList{call});
    QCOMPARE(storedSetting(QStringLiteral("Launch")), stored);
    QCOMPARE(panel->getSetting(QStringLiteral("Launch")), stored);
}

void TestUiOptionsPanel::tableShowsReconciledLists()
{
    writeSettings(
        {{QStringLiteral("alpha.hosts"), 1, QStringLiteral("http://example.com/alpha"), QString(), 7},
         {QStringLiteral("beta.hosts"), 0, QStringLiteral("http://example.com/beta"), QString(), 7},
         {QStringLiteral("gamma.hosts"), 1, QStringLiteral("http://example.com/gamma"),
          QStringLiteral("2024-03-01"), 0}});
    // New files sorted without regard to case: delta before Zeta. Only *.hosts files count.
    makeHostsFiles({{QStringLiteral("gamma.hosts"), 1},
                    {QStringLiteral("Zeta.hosts"), 1},
                    {QStringLiteral("delta.hosts"), 1},
                    {QStringLiteral("notes.txt"), 1}});
    QVERIFY(QDir().mkdir(QStringLiteral("hosts/folder.hosts")));
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();

    QCOMPARE(listNames(*panel), (QStringList{QStringLiteral("gamma.hosts"), QStringLiteral("delta.hosts"),
                                             QStringLiteral("Zeta.hosts")}));
    QCOMPARE(describeRows(*panel),
             (QStringList{QStringLiteral("1|gamma.hosts|http://example.com/gamma|2024-03-01|0 Days|") +
                              everyStartTip,
                          QStringLiteral("0|delta.hosts||Never|-1 Days|") + neverTip,
                          QStringLiteral("0|Zeta.hosts||Never|-1 Days|") + neverTip}));
    QCOMPARE(rowBackgrounds(*panel, 0), selectedBackgrounds);
    QCOMPARE(rowBackgrounds(*panel, 1), unselectedBackgrounds);
    for (int row = 0; row < 3; ++row) {
        QVERIFY(!linkButton(*panel, row, HostsColumn::LastUpdate)->icon().isNull());
        QCOMPARE(panel->hostsTable->columnSpan(row, HostsColumn::Select), 1);
    }

    QCOMPARE(panel->hostsTable->rowCount(), 4);
    const QCommandLinkButton *reload = linkButton(*panel, 3, HostsColumn::Select);
    const QCommandLinkButton *updateAll = linkButton(*panel, 3, HostsColumn::LastUpdate);
    QVERIFY(reload && updateAll);
    QCOMPARE(reload->text(), QStringLiteral("Reload hosts list"));
    QCOMPARE(panel->hostsTable->columnSpan(3, HostsColumn::Select), 3);
    QCOMPARE(updateAll->text(), QStringLiteral("Update all"));
    QVERIFY(!updateAll->icon().isNull());
    QCOMPARE(panel->hostsTable->columnSpan(3, HostsColumn::LastUpdate), 2);

    // The reconciled list is what the next save writes.
    panel->save();
    QCOMPARE(storedHosts(),
             (QStringList{QStringLiteral("gamma.hosts|1|http://example.com/gamma|2024-03-01|0"),
                          QStringLiteral("delta.hosts|0|||-1"), QStringLiteral("Zeta.hosts|0|||-1")}));
}

void TestUiOptionsPanel::missingFolderLeavesLastRowOnly()
{
    writeSettings({{QStringLiteral("a.hosts"), 1, QString(), QString(), 7}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();

    QVERIFY(panel->hostsList.empty());
    QCOMPARE(panel->hostsTable->rowCount(), 1);
    QVERIFY(linkButton(*panel, 0, HostsColumn::Select));
    QVERIFY(!panel->selectBox(0));

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    dialogButton(*panel, QDialogButtonBox::Ok)->click();
    QCOMPARE(answerer.shown, QStringList{nothingSelectedBox});
}

void TestUiOptionsPanel::rowColoursFollowCheckBox()
{
    writeSettings({{QStringLiteral("a.hosts"), 0, QStringLiteral("http://example.com/a"), QString(), 7},
                   {QStringLiteral("b.hosts"), 0, QString(), QString(), 7}});
    makeHostsFiles({{QStringLiteral("a.hosts"), 1}, {QStringLiteral("b.hosts"), 1}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();
    QCOMPARE(rowBackgrounds(*panel, 0), unselectedBackgrounds);

    QTest::keyClick(panel->selectBox(0), Qt::Key_Space);
    QVERIFY(panel->selectBox(0)->isChecked());
    QCOMPARE(rowBackgrounds(*panel, 0), selectedBackgrounds);
    QCOMPARE(rowBackgrounds(*panel, 1), unselectedBackgrounds);

    QTest::keyClick(panel->selectBox(0), Qt::Key_Space);
    QCOMPARE(rowBackgrounds(*panel, 0), unselectedBackgrounds);
    // Colouring does not touch the source it paints.
    QCOMPARE(panel->hostsList.front()->updateUrl, QUrl(QStringLiteral("http://example.com/a")));
}

void TestUiOptionsPanel::frequencyEditedInTable_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("toolTip");

    QTest::newRow("366") << 366 << QString();
    QTest::newRow("-1") << -1 << neverTip;
    QTest::newRow("0") << 0 << everyStartTip;
}

void TestUiOptionsPanel::frequencyEditedInTable()
{
    QFETCH(int, value);
    QFETCH(QString, toolTip);

    writeSettings({{QStringLiteral("a.hosts"), 1, QString(), QString(), 7}});
    makeHostsFiles({{QStringLiteral("a.hosts"), 1}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();
    QTableWidget *table = panel->hostsTable;

    table->setCurrentCell(0, HostsColumn::Frequency);
    table->editItem(table->item(0, HostsColumn::Frequency));
    auto *spinBox = table->viewport()->findChild<QSpinBox *>();
    QVERIFY(spinBox);
    QCOMPARE(spinBox->value(), 7);
    spinBox->setValue(value);
    QTest::keyClick(spinBox, Qt::Key_Return);

    // The view commits the editor's value from the event loop.
    QTRY_COMPARE(table->item(0, HostsColumn::Frequency)->text(), QStringLiteral("%1 Days").arg(value));
    QCOMPARE(table->item(0, HostsColumn::Frequency)->toolTip(), toolTip);
    panel->save();
    QCOMPARE(storedHosts(), QStringList{QStringLiteral("a.hosts|1|||%1").arg(value)});
    QCOMPARE(panel->hostsList.front()->updateFrequency, value);
}

void TestUiOptionsPanel::openHostsFileUsesStoredEditor()
{
    writeSettings({{QStringLiteral("a.hosts"), 0, QString(), QString(), 7},
                   {QStringLiteral("b.hosts"), 0, QString(), QString(), 7}});
    makeHostsFiles({{QStringLiteral("a.hosts"), 1}, {QStringLiteral("b.hosts"), 1}});
    const std::unique_ptr<UI_OptionsPanel> panel = makePanel();
    // Typed but not saved: the stored editor still opens the files.
    editorLine(*panel)->setText(QStringLiteral("vim"));

    linkButton(*panel, 1, HostsColumn::HostsFile)->click();
    QCOMPARE(platform.calls,
             QStringList{QStringLiteral("startEditor gedit ./hosts/b.hosts ") + QDir::currentPath()});
}

void TestUiOptionsPanel::folderButtons()
{
    UI_OptionsPanel panel(platform);
    pushButton(panel, QStringLiteral("Log"))->click();
    pushButton(panel, QStringLiteral("Hosts"))->click();
    QCOMPARE(platform.calls,
             (QStringList{QStringLiteral("showFolder ./log/"), QStringLiteral("showFolder ./hosts/")}));
}

void TestUiOptionsPanel::editorChoice()
{
    UI_OptionsPanel panel(platform);

    // A cancelled file dialog answers with empty text.
    panel.chooseEditor(QString());
    QCOMPARE(editorLine(panel)->text(), QStringLiteral("xdg-open"));

    panel.chooseEditor(QStringLiteral("/usr/bin/my editor"));
    QCOMPARE(editorLine(panel)->text(), QStringLiteral("/usr/bin/my editor"));
    QCOMPARE(panel.getSetting(QStringLiteral("Editor")), QStringLiteral("xdg-open"));

    panel.save();
    QCOMPARE(panel.getSetting(QStringLiteral("Editor")), QStringLiteral("/usr/bin/my editor"));
    QCOMPARE(storedSetting(QStringLiteral("Editor")), QStringLiteral("/usr/bin/my editor"));
}

QTEST_MAIN(TestUiOptionsPanel)
#include "tst_uioptionspanel.moc"
