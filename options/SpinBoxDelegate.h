#pragma once

#include <QItemDelegate>

// Edits a Frequency cell ("7 Days") with a spin box from -1 to 366.
class SpinBoxDelegate : public QItemDelegate {
    Q_OBJECT

public:
    using QItemDelegate::QItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
};
