#include "options/SelectionSize.h"

#include <QFileInfo>

SelectionSize measureSelection(const QStringList &selectedFiles)
{
    if (selectedFiles.isEmpty())
        return SelectionSize::Nothing;
    qint64 total = 0;
    for (const QString &file : selectedFiles)
        total += QFileInfo(file).size();
    return total <= maxSelectedBytes ? SelectionSize::WithinLimit : SelectionSize::OverLimit;
}
