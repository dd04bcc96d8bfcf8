#pragma once

#include <QDateTime>
#include <QString>

class QAbstractItemModel;
class QModelIndex;

// The range the Frequency column offers: -1 never, 0 at every start, else days.
constexpr int minFrequency = -1;
constexpr int maxFrequency = 366;

// "7 Days": the Frequency cell's text for `days`.
QString frequencyText(int days);
// The days of a Frequency cell's text: the text without " Days", read in decimal (0 when unreadable).
int frequencyOf(const QString &text);
// Explains the two special frequencies; empty for every other value.
QString frequencyToolTip(int days);
// Sets a Frequency cell's text and tooltip for `days`.
void writeFrequency(QAbstractItemModel &model, const QModelIndex &index, int days);

// A Last Update button's text: the date as yyyy-MM-dd, or "Never".
QString lastUpdateText(const QDateTime &lastUpdate);
