#pragma once

#include "log/LogLine.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>

#include <vector>

class QTextCharFormat;

// The shown part of the activity log: the last lines as records in a ring, formatted only when
// painted, so that a flood of lines costs the server little more than keeping them. One line per
// row; whole lines are selected and copied.
class LogView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // Levels 1 to 6 take their colour and font style from `levelFormats`; other levels are plain.
    LogView(const QTextCharFormat (&levelFormats)[6], int maxLines, QWidget *parent = nullptr);

    // Keeps `line` (the oldest leaves when full); shown by the next refresh().
    void append(LogLine line);
    // Shows the lines appended since the last refresh at once, following the newest line when the
    // view is at the bottom.
    void refresh();
    void clear();
    int lineCount() const { return int(ring.size()); }
    // Every kept line, each followed by a line feed.
    QString toPlainText() const;

public slots:
    void copy();
    void selectAll();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct Style {
        QColor pen; // invalid: the default text colour
        QFont font; // the level's own font properties, over the view's font
    };

    const LogLine &lineAt(int row) const { return ring[(head + row) % ring.size()]; }
    // The sequence number of the first kept line; lines are numbered from 0 as they arrive.
    qint64 firstNumber() const { return appended - qint64(ring.size()); }
    // The number of the kept line at viewport height `y`, or -1 when there is none.
    qint64 numberAt(int y) const;
    bool hasSelection() const { return anchor >= 0; }
    // The text of the kept lines numbered `from` to `to`, each followed by a line feed.
    QString textOf(qint64 from, qint64 to) const;
    bool isSelected(qint64 number) const
    {
        return number >= qMin(anchor, cursor) && number <= qMax(anchor, cursor);
    }
    // Adjusts the scroll bars to the kept lines, keeping the view on its lines.
    void sync();
    void updateScrollBars();

    Style styles[6];
    int maxLines;
    std::vector<LogLine> ring;
    int head = 0; // the oldest line once the ring is full
    qint64 appended = 0;
    qint64 syncedFirst = 0; // firstNumber() at the last sync()
    qint64 anchor = -1;     // the selection: the lines from anchor to cursor
    qint64 cursor = -1;
    int widest = 0; // of the lines painted so far, in pixels
};
