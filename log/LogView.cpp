#include "log/LogView.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextCharFormat>

#include <climits>

namespace {

constexpr int margin = 4; // left of the text, as a text browser's document margin
constexpr int textFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip;

} // namespace

LogView::LogView(const QTextCharFormat (&levelFormats)[6], int maxLines, QWidget *parent)
    : QAbstractScrollArea(parent), maxLines(qMax(1, maxLines))
{
    for (int level = 0; level < 6; ++level) {
        const QTextCharFormat &format = levelFormats[level];
        const bool coloured = format.hasProperty(QTextFormat::ForegroundBrush);
        styles[level] = {coloured ? format.foreground().color() : QColor(), format.font()};
    }
    ring.reserve(size_t(this->maxLines));
    horizontalScrollBar()->setSingleStep(20);
}

void LogView::append(LogLine line)
{
    ++appended;
    if (lineCount() < maxLines) {
        ring.push_back(std::move(line));
        return;
    }
    ring[size_t(head)] = std::move(line);
    if (++head == maxLines)
        head = 0;
}

void LogView::refresh()
{
    if (!isVisible())
        return; // showEvent() catches up
    sync();
    viewport()->repaint();
}

void LogView::clear()
{
    ring.clear();
    head = 0;
    syncedFirst = appended;
    anchor = cursor = -1;
    widest = 0;
    updateScrollBars();
    viewport()->update();
}

QString LogView::toPlainText() const
{
    return textOf(firstNumber(), appended - 1);
}

void LogView::copy()
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(textOf(qMin(anchor, cursor), qMax(anchor, cursor)));
}

void LogView::selectAll()
{
    if (ring.empty())
        return;
    anchor = firstNumber();
    cursor = appended - 1;
    viewport()->update();
}

void LogView::sync()
{
    QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    const int left = int(qMin(firstNumber() - syncedFirst, qint64(maxLines))); // lines gone at the top
    syncedFirst = firstNumber();
    const int target = following ? INT_MAX : bar->value() - left;
    updateScrollBars();
    bar->setValue(target);
}

void LogView::updateScrollBars()
{
    // The vertical bar counts lines, the horizontal one pixels.
    const int rows = qMax(1, viewport()->height() / fontMetrics().lineSpacing());
    verticalScrollBar()->setPageStep(rows);
    verticalScrollBar()->setRange(0, lineCount() - rows);
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, widest - viewport()->width());
}

QString LogView::textOf(qint64 from, qint64 to) const
{
    QString text;
    for (qint64 number = qMax(from, firstNumber()); number <= qMin(to, appended - 1); ++number)
        text += lineAt(int(number - firstNumber())).text() + QLatin1Char('\n');
    return text;
}

qint64 LogView::numberAt(int y) const
{
    if (ring.empty())
        return -1;
    const int row = verticalScrollBar()->value() + (y < 0 ? -1 : y / fontMetrics().lineSpacing());
    return firstNumber() + qBound(0, row, lineCount() - 1);
}

void LogView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QPalette &colours = palette(); // its disabled colours when the view is
    const int height = fontMetrics().lineSpacing();
    const int top = verticalScrollBar()->value();
    const int end = qMin(lineCount(), top + viewport()->height() / height + 1);
    const int left = margin - horizontalScrollBar()->value();
    const int widestBefore = widest;
    for (int row = top; row < end; ++row) {
        const LogLine &line = lineAt(row);
        const bool selected = isSelected(firstNumber() + row);
        QRect bounds(left, (row - top) * height, QWIDGETSIZE_MAX, height);
        if (selected)
            painter.fillRect(0, bounds.y(), viewport()->width(), height, colours.highlight());
        const QColor text = colours.color(selected ? QPalette::HighlightedText : QPalette::Text);
        painter.setFont(font());
        painter.setPen(text);
        // Drawn with their bounds, which measures them in the same pass.
        painter.drawText(bounds, textFlags, line.stamp() + QStringLiteral(" : "), &bounds);
        if (line.level >= 1 && line.level <= 6) {
            const Style &style = styles[line.level - 1];
            painter.setFont(style.font.resolve(font()));
            if (style.pen.isValid() && !selected && isEnabled())
                painter.setPen(style.pen);
        }
        bounds.setLeft(bounds.right() + 1);
        bounds.setWidth(QWIDGETSIZE_MAX);
        painter.drawText(bounds, textFlags, line.message, &bounds);
        widest = qMax(widest, bounds.right() + 1 - left + 2 * margin);
    }
    // Not from within the paint: a scroll bar that appears resizes the viewport.
    if (widest > widestBefore)
        QMetaObject::invokeMethod(this, &LogView::updateScrollBars, Qt::QueuedConnection);
}

void LogView::resizeEvent(QResizeEvent *)
{
    sync();
}

void LogView::showEvent(QShowEvent *)
{
    sync();
}

void LogView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    cursor = numberAt(event->position().toPoint().y());
    if (!(event->modifiers() & Qt::ShiftModifier) || anchor < 0)
        anchor = cursor;
    viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || anchor < 0)
        return;
    cursor = numberAt(event->position().toPoint().y());
    // Dragging past an edge scrolls, a line per move.
    const int row = int(cursor - firstNumber());
    QScrollBar *bar = verticalScrollBar();
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + bar->pageStep())
        bar->setValue(row - bar->pageStep() + 1);
    viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy))
        copy();
    else if (event->matches(QKeySequence::SelectAll))
        selectAll();
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void LogView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu;
    menu.addAction(tr("Copy"), QKeySequence::Copy, this, &LogView::copy)->setEnabled(hasSelection());
    menu.addAction(tr("Select All"), QKeySequence::SelectAll, this, &LogView::selectAll);
    menu.exec(event->globalPos());
}
