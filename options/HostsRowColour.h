#pragma once

#include <QColor>

class QTableWidget;

// The background of a selected list's row in the hosts list table.
inline const QColor selectedRowColour(153, 206, 235);

// Colours `row` of the hosts list table for a list that is `selected` or not. The Source cell is
// left alone unless `recolourSource`: while a download covers it, it holds no item of its own.
void colourHostsRow(QTableWidget &table, int row, bool selected, bool recolourSource);
