#include "options/HostsLibrary.h"
#include "options/HostsTableText.h"
#include "options/SelectionSize.h"

#include <QDir>
#include <QFile>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An entry as the settings would load it: selected, with a source and a frequency, so that a
// test can tell it from one made for a new file.
std::unique_ptr<HostsEntry> storedEntry(const QString &name)
{
    auto entry = std::make_unique<HostsEntry>();
    entry->selected = true;
    entry->name = name;
    entry->updateUrl = QUrl(QStringLiteral("http://example.com/") + name);
    entry->lastUpdate = QDate(2024, 3, 1).startOfDay();
    entry->updateFrequency = 7;
    return entry;
}

// "name" for an entry kept from the settings, "name (new)" for one made for a file.
QStringList describe(const HostsList &hostsList)
{
    QStringList described;
    for (const std::unique_ptr<HostsEntry> &entry : hostsList) {
        const bool fresh = !entry->selected && entry->updateUrl.isEmpty() && entry->lastUpdate.isNull() &&
                           entry->updateFrequency == -1;
        described << entry->name + (fresh ? QStringLiteral(" (new)") : QString());
    }
    return described;
}

bool makeFile(const QString &path, qint64 size)
{
    QFile file(path);
    // resize() leaves a sparse file: sizes beyond 32 bits cost no disk.
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

} // namespace

class TestHostsList : public QObject {
    Q_OBJECT

private slots:
    void reconcile_data();
    void reconcile();
    void reconcileKeepsEntriesInPlace();
    void listsOnlyHostsFiles();
    void missingFolderListsNothing();
    void measureSelection_data();
    void measureSelection();
    void frequencyText_data();
    void frequencyText();
    void frequencyOfCellText_data();
    void frequencyOfCellText();
    void writeFrequencySetsTextAndToolTip();
    void lastUpdateText_data();
    void lastUpdateText();
};

void TestHostsList::reconcile_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("expected");

    const QString alpha = QStringLiteral("alpha.hosts");
    const QString beta = QStringLiteral("beta.hosts");
    const QString gamma = QStringLiteral("gamma.hosts");
    const QString zeta = QStringLiteral("zeta.hosts");

    QTest::newRow("stored order first, then new files")
        << QStringList{alpha, beta, gamma} << QStringList{gamma, zeta}
        << QStringList{gamma, QStringLiteral("zeta.hosts (new)")};
    QTest::newRow("two missing files in a row both dropped")
        << QStringList{alpha, beta, gamma} << QStringList{gamma} << QStringList{gamma};
    QTest::newRow("stored order kept against listing order")
        << QStringList{zeta, alpha} << QStringList{alpha, zeta} << QStringList{zeta, alpha};
    QTest::newRow("new files follow the listing")
        << QStringList{} << QStringList{alpha, QStringLiteral("Beta.hosts")}
        << QStringList{QStringLiteral("alpha.hosts (new)"), QStringLiteral("Beta.hosts (new)")};
    QTest::newRow("new files after every stored one")
        << QStringList{zeta} << QStringList{alpha, zeta}
        << QStringList{zeta, QStringLiteral("alpha.hosts (new)")};
    QTest::newRow("no files drops everything") << QStringList{alpha, beta} << QStringList{} << QStringList{};
    QTest::newRow("names compared exactly")
        << QStringList{QStringLiteral("Alpha.hosts")} << QStringList{alpha}
        << QStringList{QStringLiteral("alpha.hosts (new)")};
    QTest::newRow("both stored duplicates of a present file kept")
        << QStringList{alpha, alpha} << QStringList{alpha} << QStringList{alpha, alpha};
    QTest::newRow("nothing stored, nothing present") << QStringList{} << QStringList{} << QStringList{};
}

void TestHostsList::reconcile()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);

    HostsList hostsList;
    for (const QString &name : stored)
        hostsList.push_back(storedEntry(name));
    reconcileHostsList(hostsList, files);
    QCOMPARE(describe(hostsList), expected);
}

void TestHostsList::reconcileKeepsEntriesInPlace()
{
    // The entries that stay are the same objects with their values, not copies.
    HostsList hostsList;
    hostsList.push_back(storedEntry(QStringLiteral("gone.hosts")));
    hostsList.push_back(storedEntry(QStringLiteral("kept.hosts")));
    const HostsEntry *kept = hostsList.back().get();

    reconcileHostsList(hostsList, {QStringLiteral("kept.hosts")});
    QCOMPARE(hostsList.size(), size_t(1));
    QCOMPARE(hostsList.front().get(), kept);
    QCOMPARE(kept->updateUrl, QUrl(QStringLiteral("http://example.com/kept.hosts")));
    QCOMPARE(kept->updateFrequency, 7);
}

void TestHostsList::listsOnlyHostsFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name :
         {"zeta.hosts", "Beta.hosts", "alpha.hosts", "notes.txt", "hosts", "gamma.hosts.bak"})
        QVERIFY(makeFile(dir.filePath(QString::fromLatin1(name)), 1));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.hosts")));

    QCOMPARE(listHostsFiles(dir.path()),
             (QStringList{QStringLiteral("alpha.hosts"), QStringLiteral("Beta.hosts"),
                          QStringLiteral("zeta.hosts")}));
    QCOMPARE(listHostsFiles(dir.path() + QLatin1Char('/')), listHostsFiles(dir.path()));
}

void TestHostsList::missingFolderListsNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(listHostsFiles(dir.filePath(QStringLiteral("hosts"))), QStringList());
}

void TestHostsList::measureSelection_data()
{
    QTest::addColumn<QList<qint64>>("sizes"); // -1: the file is missing
    QTest::addColumn<SelectionSize>("expected");

    QTest::newRow("nothing selected") << QList<qint64>{} << SelectionSize::Nothing;
    QTest::newRow("one empty file") << QList<qint64>{0} << SelectionSize::WithinLimit;
    QTest::newRow("missing file counts 0 and is selected") << QList<qint64>{-1} << SelectionSize::WithinLimit;
    QTest::newRow("exactly 2 MB in one file")
        << QList<qint64>{maxSelectedBytes} << SelectionSize::WithinLimit;
    QTest::newRow("exactly 2 MB in two files")
        << QList<qint64>{1048576, 1048576} << SelectionSize::WithinLimit;
    QTest::newRow("one byte more in one file") << QList<qint64>{2097153} << SelectionSize::OverLimit;
    QTest::newRow("one byte more in two files")
        << QList<qint64>{1048576, 1048577} << SelectionSize::OverLimit;
    QTest::newRow("missing file adds nothing")
        << QList<qint64>{maxSelectedBytes, -1} << SelectionSize::WithinLimit;
    // A 32-bit total would wrap to 0 here.
    QTest::newRow("total beyond 32 bits")
        << QList<qint64>{Q_INT64_C(2147483648), Q_INT64_C(2147483648)} << SelectionSize::OverLimit;
}

void TestHostsList::measureSelection()
{
    QFETCH(QList<qint64>, sizes);
    QFETCH(SelectionSize, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList files;
    for (int i = 0; i < sizes.size(); ++i) {
        files << dir.filePath(QStringLiteral("%1.hosts").arg(i));
        if (sizes.at(i) >= 0)
            QVERIFY(makeFile(files.last(), sizes.at(i)));
    }
    QCOMPARE(::measureSelection(files), expected);
}

void TestHostsList::frequencyText_data()
{
    QTest::addColumn<int>("days");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");

    QTest::newRow("-1") << -1 << QStringLiteral("-1 Days")
                        << QStringLiteral("'-1 Days' means never update automatically");
    QTest::newRow("0") << 0 << QStringLiteral("0 Days")
                       << QStringLiteral("'0 Days' means update every time launched");
    QTest::newRow("1") << 1 << QStringLiteral("1 Days") << QString();
    QTest::newRow("7") << 7 << QStringLiteral("7 Days") << QString();
    QTest::newRow("366") << 366 << QStringLiteral("366 Days") << QString();
    QTest::newRow("-2 from an old file") << -2 << QStringLiteral("-2 Days") << QString();
}

void TestHostsList::frequencyText()
{
    QFETCH(int, days);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    QCOMPARE(::frequencyText(days), text);
    QCOMPARE(frequencyToolTip(days), toolTip);
    QCOMPARE(frequencyOf(text), days);
}

void TestHostsList::frequencyOfCellText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("days");

    QTest::newRow("366 Days") << QStringLiteral("366 Days") << 366;
    QTest::newRow("-1 Days") << QStringLiteral("-1 Days") << -1;
    QTest::newRow("last five characters dropped whatever they are") << QStringLiteral("12abcde") << 12;
    QTest::newRow("nothing before the suffix") << QStringLiteral(" Days") << 0;
    QTest::newRow("shorter than the suffix") << QStringLiteral("7") << 0;
    QTest::newRow("empty") << QString() << 0;
}

void TestHostsList::frequencyOfCellText()
{
    QFETCH(QString, text);
    QFETCH(int, days);
    QCOMPARE(frequencyOf(text), days);
}

void TestHostsList::writeFrequencySetsTextAndToolTip()
{
    QStandardItemModel model(1, 1);
    const QModelIndex cell = model.index(0, 0);

    writeFrequency(model, cell, -1);
    QCOMPARE(cell.data(Qt::EditRole).toString(), QStringLiteral("-1 Days"));
    QCOMPARE(cell.data(Qt::DisplayRole).toString(), QStringLiteral("-1 Days"));
    QCOMPARE(cell.data(Qt::ToolTipRole).toString(),
             QStringLiteral("'-1 Days' means never update automatically"));

    // A value without a tooltip clears the previous one.
    writeFrequency(model, cell, 7);
    QCOMPARE(cell.data(Qt::EditRole).toString(), QStringLiteral("7 Days"));
    QCOMPARE(cell.data(Qt::ToolTipRole).toString(), QString());
}

void TestHostsList::lastUpdateText_data()
{
    QTest::addColumn<QDateTime>("lastUpdate");
    QTest::addColumn<QString>("text");

    QTest::newRow("never") << QDateTime() << QStringLiteral("Never");
    QTest::newRow("a date") << QDateTime(QDate(2024, 3, 1), QTime(23, 59)) << QStringLiteral("2024-03-01");
    QTest::newRow("start of a year") << QDate(2025, 1, 9).startOfDay() << QStringLiteral("2025-01-09");
}

void TestHostsList::lastUpdateText()
{
    QFETCH(QDateTime, lastUpdate);
    QFETCH(QString, text);
    QCOMPARE(::lastUpdateText(lastUpdate), text);
}

QTEST_GUILESS_MAIN(TestHostsList)
#include "tst_hostslist.moc"
