#pragma once

#include "dns/HostRule.h"
#include "dns/RuleOrigins.h"

#include <QAbstractTableModel>

// The rule table's rows, read from the rule list as they are shown: a table of a million rules holds
// no copy of their texts, and a reload only resets it. Row i is rule i; column 0 its address, column
// 1 its pattern text. Rows loaded from the hosts file cannot be edited; rows the user appended can.
// Every change of the rule list that the table shows goes through this model.
class RuleTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit RuleTableModel(HostRules &rules, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // An edit that changes a cell's text emits cellChanged(); the rule itself is changed by whoever
    // handles it, through replaceRule().
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // The text of a cell, or while cellChanged() is emitted for it, the text being committed.
    QString cellText(int row, int column) const;

    // Replaces every rule with those of the wildcard lines of the hosts file at `path`, then those
    // of every line of the lists at `served`, in order; all of them are loaded rows. Gives the
    // served lists that could not be read.
    QStringList load(const QString &path, const QStringList &served = {});
    void clear();
    // Appends an empty rule as an editable row.
    void appendRule();
    void removeRule(int row);
    void replaceRule(int row, const HostRule &rule);
    // The file and line a row came from, or none for a row added in the table.
    RuleOrigins::Origin origin(int row) const { return origins.at(row); }

signals:
    void cellChanged(int row, int column);

private:
    HostRules &rules;
    RuleOrigins origins; // of the loaded rows, which come first
    int editRow = -1;
    int editColumn = -1;
    QString editText;
};
