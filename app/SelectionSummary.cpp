#include "app/SelectionSummary.h"

namespace {

constexpr int summaryLimit = 32;

} // namespace

QString selectionSummary(const QStringList &selectedNames)
{
    QString text = QStringLiteral("[");
    for (int i = 0; i < selectedNames.size(); ++i) {
        if (i > 0)
            text += QStringLiteral(", ");
        text += selectedNames.at(i);
        if (text.size() > summaryLimit) {
            text += QStringLiteral("...");
            break;
        }
    }
    return text + QLatin1Char(']');
}
