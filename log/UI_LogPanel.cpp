#include "log/UI_LogPanel.h"

#include <QDateTime>
#include <QGridLayout>
#include <QTextBrowser>

namespace {

const QString statusChanged = QStringLiteral("Log status changed!");

QTextCharFormat levelFormat(int red, int green, int blue, bool italic, int weight = QFont::Normal)
{
    QTextCharFormat format;
    format.setForeground(QBrush(QColor(red, green, blue)));
    format.setFontItalic(italic);
    if (weight != QFont::Normal)
        format.setFontWeight(weight);
    return format;
}

} // namespace

UI_LogPanel::UI_LogPanel(const QString &mode, QWidget *parent)
    : QWidget(parent), levelFormats{levelFormat(255, 0, 0, false),  levelFormat(135, 135, 135, true),
                                    levelFormat(25, 27, 40, true),  levelFormat(130, 70, 153, false),
                                    levelFormat(0, 122, 179, true), levelFormat(0, 0, 0, false, QFont::Bold)},
      layout(new QGridLayout(this)), browser(new QTextBrowser)
{
    layout->addWidget(browser);
    browser->document()->setMaximumBlockCount(maxShownLines + 1); // and the empty one at the end
    paintTimer.setSingleShot(true);
    connect(&paintTimer, &QTimer::timeout, this, &UI_LogPanel::showPending);
    sincePaint.start();
    if (mode == QLatin1String("Brief")) {
        status = LogStatus::Brief;
    } else if (mode == QLatin1String("Off")) {
        status = LogStatus::Off;
        browser->setDisabled(true);
    }
}

UI_LogPanel::~UI_LogPanel() = default;

void UI_LogPanel::appendLog(const QString &text, int level, bool detailedOnly)
{
    if (!records(detailedOnly))
        return;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")) +
                          QStringLiteral(" : ");
    Line line{stamp + escapedForLog(text), level, stamp.size()};
    journal.append(line.text);
    pending.push_back(std::move(line));
    // Shown at once, also while the caller keeps the GUI thread busy, but not more often than the
    // screen can show it: a burst of lines is laid out and painted together.
    if (sincePaint.elapsed() >= paintIntervalMs)
        showPending();
    else if (!paintTimer.isActive())
        paintTimer.start(paintIntervalMs);
}

void UI_LogPanel::showPending()
{
    if (pending.empty())
        return;
    browser->moveCursor(QTextCursor::End);
    QTextCursor cursor = browser->textCursor();
    cursor.beginEditBlock();
    for (const Line &line : pending) {
        cursor.setCharFormat(timeFormat);
        cursor.insertText(line.text.left(line.messageAt));
        if (line.level >= 1 && line.level <= 6)
            cursor.setCharFormat(levelFormats[line.level - 1]);
        cursor.insertText(line.text.mid(line.messageAt));
        cursor.insertBlock();
    }
    cursor.endEditBlock();
    pending.clear();
    sincePaint.restart();
    repaint();
}

QTextBrowser *UI_LogPanel::browserWidget()
{
    showPending();
    return browser;
}

bool UI_LogPanel::records(bool detailedOnly) const
{
    return status != LogStatus::Off && !(status == LogStatus::Brief && detailedOnly);
}

QString UI_LogPanel::fileNameFor(const QDateTime &when)
{
    return logDir + when.toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss")) + QStringLiteral(".log");
}

void UI_LogPanel::save()
{
    // Every line is on disk already; the file of the run gets its name. Lines logged before an Off
    // stay (only a run Off throughout writes no file).
    showPending();
    journal.finish(fileNameFor(QDateTime::currentDateTime()));
}

void UI_LogPanel::setStatus(const QString &mode)
{
    if (mode == QLatin1String("Brief"))
        Brief();
    else if (mode == QLatin1String("Off"))
        Off();
    else
        Detailed();
}

void UI_LogPanel::Detailed()
{
    changeStatus(LogStatus::Detailed);
}

void UI_LogPanel::Brief()
{
    changeStatus(LogStatus::Brief);
}

void UI_LogPanel::Off()
{
    if (status == LogStatus::Off)
        return;
    browser->setDisabled(true);
    status = LogStatus::Off;
}

void UI_LogPanel::changeStatus(int newStatus)
{
    if (status == newStatus)
        return;
    browser->setEnabled(true);
    status = newStatus;
    appendLog(statusChanged, LogLevel::Plain, false); // plain: all of it in the time-stamp style
}
