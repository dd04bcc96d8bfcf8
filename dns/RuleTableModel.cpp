#include "dns/RuleTableModel.h"

namespace {

constexpr int columns = 2;
// A cell shows at most this much of its text: laying out a pattern of a 50 MB hosts line to size its
// column took seconds and gigabytes, and no one reads past the first screen. Edits get the whole text.
constexpr qsizetype shownCharacters = 4096;

// Loaded rules can be selected, dragged and checked but not edited; the user's rows can be edited.
constexpr Qt::ItemFlags loadedRowFlags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled |
                                         Qt::ItemIsDropEnabled | Qt::ItemIsUserCheckable;
constexpr Qt::ItemFlags userRowFlags = loadedRowFlags | Qt::ItemIsEditable;

} // namespace

RuleTableModel::RuleTableModel(HostRules &rules, QObject *parent) : QAbstractTableModel(parent), rules(rules)
{
}

int RuleTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rules.size();
}

int RuleTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columns;
}

QString RuleTableModel::cellText(int row, int column) const
{
    if (row == editRow && column == editColumn)
        return editText;
    return column == 0 ? rules.addressAt(row).toString() : rules.patternAt(row);
}

QVariant RuleTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    const QString text = cellText(index.row(), index.column());
    if (role == Qt::DisplayRole && text.size() > shownCharacters)
        return text.first(shownCharacters) + QChar(0x2026); // an ellipsis
    return text;
}

QVariant RuleTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < columns)
        return section == 0 ? QStringLiteral("Address") : QStringLiteral("Domain");
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags RuleTableModel::flags(const QModelIndex &index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    return index.row() < origins.size() ? loadedRowFlags : userRowFlags;
}

bool RuleTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const QString text = value.toString();
    if (text == cellText(index.row(), index.column()))
        return true;
    editRow = index.row();
    editColumn = index.column();
    editText = text;
    emit cellChanged(editRow, editColumn);
    editRow = editColumn = -1;
    editText.clear();
    return true;
}

QStringList RuleTableModel::load(const QString &path, const QStringList &served)
{
    beginResetModel();
    origins.clear();
    loadSystemHostsRules(rules, path, &origins.startFile(path));
    QStringList unread;
    for (const QString &list : served) {
        if (!appendHostsRules(rules, list, HostsLines::Every, &origins.startFile(list)))
            unread << list;
    }
    endResetModel();
    return unread;
}

void RuleTableModel::clear()
{
    beginResetModel();
    rules.clear();
    origins.clear();
    endResetModel();
}

void RuleTableModel::appendRule()
{
    const int row = rules.size();
    beginInsertRows(QModelIndex(), row, row);
    rules.append(HostRule());
    endInsertRows();
}

void RuleTableModel::removeRule(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    rules.removeAt(row);
    origins.removeAt(row);
    endRemoveRows();
}

void RuleTableModel::replaceRule(int row, const HostRule &rule)
{
    rules.replace(row, rule);
    emit dataChanged(index(row, 0), index(row, columns - 1));
}
