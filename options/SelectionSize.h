#pragma once

#include <QStringList>
#include <QtGlobal>

// The largest selection, in bytes over all its files, that is applied without asking: 2 MB.
constexpr qint64 maxSelectedBytes = 2097152;

enum class SelectionSize {
    Nothing,     // no list selected
    WithinLimit, // at most maxSelectedBytes in total
    OverLimit,   // more: the system may become very slow
};

// Measures the selected lists' files; a missing file counts 0 bytes but is still selected.
SelectionSize measureSelection(const QStringList &selectedFiles);
