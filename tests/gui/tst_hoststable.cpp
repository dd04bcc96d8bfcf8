#include "options/HostsColumns.h"
#include "options/HostsRowColour.h"
#include "options/SpinBoxDelegate.h"

#include <QSpinBox>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QTest>

#include <memory>

namespace {

const QColor transparent(Qt::transparent);

// A table of one hosts row: a source and a frequency item; cells 0, 1 and 3 hold widgets only.
std::unique_ptr<QTableWidget> oneRowTable()
{
    auto table = std::make_unique<QTableWidget>(1, HostsColumn::Count);
    table->setItem(0, HostsColumn::Source, new QTableWidgetItem(QStringLiteral("http://example.com/a")));
    table->setItem(0, HostsColumn::Frequency, new QTableWidgetItem(QStringLiteral("7 Days")));
    return table;
}

QColor backgroundOf(const QTableWidget &table, int column)
{
    const QTableWidgetItem *item = table.item(0, column);
    return item ? item->background().color() : QColor();
}

} // namespace

class TestHostsTable : public QObject {
    Q_OBJECT

private slots:
    void editorRange();
    void editorTakesCellValue_data();
    void editorTakesCellValue();
    void editorWritesDaysText_data();
    void editorWritesDaysText();
    void editorFillsCell();
    void selectedRowColoured();
    void unselectedRowTransparent();
    void sourceLeftAloneWhileCovered_data();
    void sourceLeftAloneWhileCovered();
};

void TestHostsTable::editorRange()
{
    SpinBoxDelegate delegate;
    QWidget parent;
    QStandardItemModel model(1, 1);
    QWidget *editor = delegate.createEditor(&parent, QStyleOptionViewItem(), model.index(0, 0));
    auto *spinBox = qobject_cast<QSpinBox *>(editor);
    QVERIFY(spinBox);
    QCOMPARE(spinBox->parent(), &parent);
    QCOMPARE(spinBox->minimum(), -1);
    QCOMPARE(spinBox->maximum(), 366);
}

void TestHostsTable::editorTakesCellValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");

    QTest::newRow("-1 Days") << QStringLiteral("-1 Days") << -1;
    QTest::newRow("0 Days") << QStringLiteral("0 Days") << 0;
    QTest::newRow("7 Days") << QStringLiteral("7 Days") << 7;
    QTest::newRow("366 Days") << QStringLiteral("366 Days") << 366;
    QTest::newRow("beyond the range clamps") << QStringLiteral("400 Days") << 366;
}

void TestHostsTable::editorTakesCellValue()
{
    QFETCH(QString, text);
    QFETCH(int, value);

    SpinBoxDelegate delegate;
    QStandardItemModel model(1, 1);
    const QModelIndex cell = model.index(0, 0);
    model.setData(cell, text, Qt::EditRole);
    QWidget parent;
    QWidget *editor = delegate.createEditor(&parent, QStyleOptionViewItem(), cell);
    delegate.setEditorData(editor, cell);
    QCOMPARE(static_cast<QSpinBox *>(editor)->value(), value);
}

void TestHostsTable::editorWritesDaysText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");

    QTest::newRow("366") << QStringLiteral("366") << QStringLiteral("366 Days") << QString();
    QTest::newRow("digits past 366 refused")
        << QStringLiteral("3669") << QStringLiteral("366 Days") << QString();
    QTest::newRow("-1") << QStringLiteral("-1") << QStringLiteral("-1 Days")
                        << QStringLiteral("'-1 Days' means never update automatically");
    QTest::newRow("0") << QStringLiteral("0") << QStringLiteral("0 Days")
                       << QStringLiteral("'0 Days' means update every time launched");
}

void TestHostsTable::editorWritesDaysText()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    SpinBoxDelegate delegate;
    QStandardItemModel model(1, 1);
    const QModelIndex cell = model.index(0, 0);
    model.setData(cell, QStringLiteral("7 Days"), Qt::EditRole);
    QWidget parent;
    auto *editor = static_cast<QSpinBox *>(delegate.createEditor(&parent, QStyleOptionViewItem(), cell));
    delegate.setEditorData(editor, cell);
    // Typed as a user types, without confirming.
    editor->selectAll();
    QTest::keyClicks(editor, typed);
    delegate.setModelData(editor, &model, cell);
    QCOMPARE(cell.data(Qt::EditRole).toString(), text);
    QCOMPARE(cell.data(Qt::ToolTipRole).toString(), toolTip);
}

void TestHostsTable::editorFillsCell()
{
    SpinBoxDelegate delegate;
    QWidget parent;
    QStandardItemModel model(1, 1);
    QWidget *editor = delegate.createEditor(&parent, QStyleOptionViewItem(), model.index(0, 0));
    QStyleOptionViewItem option;
    option.rect = QRect(12, 34, 56, 78);
    delegate.updateEditorGeometry(editor, option, model.index(0, 0));
    QCOMPARE(editor->geometry(), option.rect);
}

void TestHostsTable::selectedRowColoured()
{
    const std::unique_ptr<QTableWidget> table = oneRowTable();
    colourHostsRow(*table, 0, true, true);

    QCOMPARE(selectedRowColour, QColor(153, 206, 235));
    for (int column = 0; column < HostsColumn::Count; ++column) {
        QVERIFY2(table->item(0, column), qPrintable(QString::number(column)));
        QCOMPARE(table->item(0, column)->background().color(), selectedRowColour);
        QCOMPARE(table->item(0, column)->background().color().alpha(), 255);
    }
    QCOMPARE(table->item(0, HostsColumn::Select)->background().style(), Qt::SolidPattern);
    QCOMPARE(table->item(0, HostsColumn::Source)->text(), QStringLiteral("http://example.com/a"));

    // Colouring twice leaves one item per cell, not a stale one underneath.
    colourHostsRow(*table, 0, true, true);
    QCOMPARE(backgroundOf(*table, HostsColumn::LastUpdate), selectedRowColour);
}

void TestHostsTable::unselectedRowTransparent()
{
    const std::unique_ptr<QTableWidget> table = oneRowTable();
    colourHostsRow(*table, 0, true, true);
    colourHostsRow(*table, 0, false, true);

    for (int column : {HostsColumn::Select, HostsColumn::HostsFile, HostsColumn::LastUpdate})
        QVERIFY(!table->item(0, column));
    QCOMPARE(backgroundOf(*table, HostsColumn::Source), transparent);
    QCOMPARE(backgroundOf(*table, HostsColumn::Frequency), transparent);
    QCOMPARE(table->item(0, HostsColumn::Frequency)->text(), QStringLiteral("7 Days"));
}

void TestHostsTable::sourceLeftAloneWhileCovered_data()
{
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QColor>("frequencyColour");

    QTest::newRow("selected") << true << selectedRowColour;
    QTest::newRow("unselected") << false << transparent;
}

void TestHostsTable::sourceLeftAloneWhileCovered()
{
    QFETCH(bool, selected);
    QFETCH(QColor, frequencyColour);

    const std::unique_ptr<QTableWidget> table = oneRowTable();
    const QColor before = backgroundOf(*table, HostsColumn::Source);
    colourHostsRow(*table, 0, selected, false);
    QCOMPARE(backgroundOf(*table, HostsColumn::Source), before);
    QCOMPARE(backgroundOf(*table, HostsColumn::Frequency), frequencyColour);

    // A cell with no item at all (taken out while a download covers it) stays empty.
    delete table->takeItem(0, HostsColumn::Source);
    colourHostsRow(*table, 0, selected, false);
    QVERIFY(!table->item(0, HostsColumn::Source));
}

QTEST_MAIN(TestHostsTable)
#include "tst_hoststable.moc"
