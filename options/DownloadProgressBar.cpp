#include "options/DownloadProgressBar.h"

#include <limits>

DownloadProgressBar::DownloadProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setRange(0, 0);
    setValue(0);
}

void DownloadProgressBar::updateProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    constexpr qint64 intMax = std::numeric_limits<int>::max();
    // Sizes past 32 bits are scaled down alike, so the bar still shows the share received.
    const qint64 total = qMax<qint64>(bytesTotal, 0);
    int shift = 0;
    while ((total >> shift) > intMax)
        ++shift;
    setMaximum(int(total >> shift));
    setValue(int(qMin(qMax<qint64>(bytesReceived, 0) >> shift, intMax)));
}
