#include "options/SpinBoxDelegate.h"

#include "options/HostsTableText.h"

#include <QSpinBox>

QWidget *SpinBoxDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                       const QModelIndex &) const
{
    auto *editor = new QSpinBox(parent);
    editor->setRange(minFrequency, maxFrequency);
    return editor;
}

void SpinBoxDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    static_cast<QSpinBox *>(editor)->setValue(
        frequencyOf(index.model()->data(index, Qt::EditRole).toString()));
}

void SpinBoxDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    auto *spinBox = static_cast<QSpinBox *>(editor);
    // Digits typed but not yet confirmed count as well.
    spinBox->interpretText();
    writeFrequency(*model, index, spinBox->value());
}

void SpinBoxDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                           const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}
