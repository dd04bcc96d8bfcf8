#include "dns/QueryGraph.h"

#include <QLocale>
#include <QPainter>

namespace {

// Fixed colours that read on light and dark palettes alike.
const QColor answeredColour(46, 139, 87);
const QColor passedColour(214, 96, 36);
constexpr int topShown = 10;
constexpr int spacing = 6;

// Numbers always with group separators, also in the C locale that omits them.
QString number(quint64 value)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(qulonglong(value));
}

} // namespace

QueryGraph::QueryGraph(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void QueryGraph::setHour(const QueryStats::Hour &shown)
{
    hour = shown;
    update();
}

QSize QueryGraph::sizeHint() const
{
    return {600, qMax(150, (topShown + 1) * fontMetrics().lineSpacing() + 3 * spacing)};
}

QSize QueryGraph::minimumSizeHint() const
{
    return {400, 4 * fontMetrics().lineSpacing() + 3 * spacing};
}

void QueryGraph::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.lineSpacing();
    const QRect area = rect().adjusted(spacing, spacing, -spacing, -spacing);
    const QRect below = area.adjusted(0, line + spacing, 0, 0);
    const QRect names(below.right() - below.width() / 3, below.top(), below.width() / 3, below.height());
    // Room below the bars for the time axis.
    const QRect bars(below.left(), below.top(), names.left() - spacing - below.left(), below.height() - line);
    painter.setPen(palette().color(QPalette::WindowText));

    // The caption, each count behind a swatch of its bars' colour.
    const QList<QPair<QString, QColor>> caption{
        {QStringLiteral("Last hour:"), QColor()},
        {QStringLiteral("%1 answered by a rule,").arg(number(hour.totalAnswered)), answeredColour},
        {QStringLiteral("%1 passed on (SERVFAIL)").arg(number(hour.totalPassed)), passedColour}};
    const int swatch = metrics.ascent() - 2;
    int x = area.left();
    for (const auto &[text, colour] : caption) {
        if (x + swatch >= area.right())
            break;
        if (colour.isValid()) {
            painter.fillRect(x, area.top() + (line - swatch) / 2, swatch, swatch, colour);
            x += swatch + 4;
        }
        const int room = area.right() - x;
        painter.drawText(QRect(x, area.top(), qMax(room, 0), line), Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(text, Qt::ElideRight, room));
        x += metrics.horizontalAdvance(text) + metrics.horizontalAdvance(QLatin1Char(' '));
    }

    // The bars, scaled to the busiest minute.
    quint64 busiest = 1;
    for (int minute = 0; minute < QueryStats::minutes; ++minute)
        busiest = qMax(busiest, hour.answered[minute] + hour.passed[minute]);
    const qreal width = qreal(bars.width()) / QueryStats::minutes;
    const qreal gap = width > 3 ? 1 : 0;
    for (int minute = 0; minute < QueryStats::minutes; ++minute) {
        const qreal left = bars.left() + minute * width;
        const qreal answered = qreal(hour.answered[minute]) * bars.height() / busiest;
        const qreal passed = qreal(hour.passed[minute]) * bars.height() / busiest;
        painter.fillRect(QRectF(left, bars.bottom() + 1 - answered, width - gap, answered), answeredColour);
        painter.fillRect(QRectF(left, bars.bottom() + 1 - answered - passed, width - gap, passed),
                         passedColour);
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(bars.bottomLeft(), bars.bottomRight());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect axis(bars.left(), bars.bottom() + 1, bars.width(), line);
    painter.drawText(axis, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("60 minutes ago"));
    painter.drawText(axis, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("now"));
    if (hour.totalAnswered + hour.totalPassed > 0)
        painter.drawText(QRect(bars.left(), bars.top(), bars.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1 in the busiest minute").arg(number(busiest)));

    // The names answered most often, as many as fit.
    const int shown = qMin<int>(qMin<int>(topShown, hour.top.size()), names.height() / line);
    for (int at = 0; at < shown; ++at) {
        const QRect row(names.left(), names.top() + at * line, names.width(), line);
        const QString count = number(hour.top[at].second);
        const int nameWidth = row.width() - metrics.horizontalAdvance(count) - spacing;
        painter.drawText(row, Qt::AlignRight | Qt::AlignVCenter, count);
        painter.drawText(
            row, Qt::AlignLeft | Qt::AlignVCenter,
            metrics.elidedText(QString::fromLatin1(hour.top[at].first), Qt::ElideMiddle, nameWidth));
    }
}
