#include "options/HostsRowColour.h"

#include "options/HostsColumns.h"

#include <QTableWidget>

namespace {

// The cells whose widgets cover them: an item underneath gives them their background.
constexpr int widgetColumns[] = {HostsColumn::Select, HostsColumn::HostsFile, HostsColumn::LastUpdate};

} // namespace

void colourHostsRow(QTableWidget &table, int row, bool selected, bool recolourSource)
{
    for (int column : widgetColumns) {
        if (selected) {
            auto *item = new QTableWidgetItem;
            item->setBackground(QBrush(selectedRowColour));
            table.setItem(row, column, item);
        } else {
            delete table.takeItem(row, column);
        }
    }
    const QColor colour = selected ? selectedRowColour : QColor(Qt::transparent);
    QTableWidgetItem *source = table.item(row, HostsColumn::Source);
    if (recolourSource && source)
        source->setBackground(colour);
    if (QTableWidgetItem *frequency = table.item(row, HostsColumn::Frequency))
        frequency->setBackground(colour);
}
