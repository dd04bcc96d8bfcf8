#include "options/HostsTableText.h"

#include <QAbstractItemModel>

namespace {

const QString daysSuffix = QStringLiteral(" Days");

} // namespace

QString frequencyText(int days)
{
    return QString::number(days) + daysSuffix;
}

int frequencyOf(const QString &text)
{
    return text.left(qMax(0, text.size() - daysSuffix.size())).toInt();
}

QString frequencyToolTip(int days)
{
    if (days == -1)
        return QStringLiteral("'-1 Days' means never update automatically");
    if (days == 0)
        return QStringLiteral("'0 Days' means update every time launched");
    return QString();
}

void writeFrequency(QAbstractItemModel &model, const QModelIndex &index, int days)
{
    model.setData(index, frequencyText(days), Qt::EditRole);
    // Kept in step with the text, so an edited cell never explains a value it no longer holds.
    model.setData(index, frequencyToolTip(days), Qt::ToolTipRole);
}

QString lastUpdateText(const QDateTime &lastUpdate)
{
    return lastUpdate.isValid() ? lastUpdate.toString(QStringLiteral("yyyy-MM-dd")) : QStringLiteral("Never");
}
