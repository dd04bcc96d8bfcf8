#include "log/UI_LogPanel.h"

#include <QDateTime>
#include <QFile>
#include <QGridLayout>
#include <QTextBrowser>
#include <QTextStream>

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
    browser->moveCursor(QTextCursor::End);
    QTextCursor cursor = browser->textCursor();
    cursor.setCharFormat(timeFormat);
    cursor.insertText(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")) +
                      QStringLiteral(" : "));
    if (level >= 1 && level <= 6)
        cursor.setCharFormat(levelFormats[level - 1]);
    cursor.insertText(escapedForLog(text));
    cursor.insertBlock();
    // Shown at once, also while the caller keeps the GUI thread busy.
    repaint();
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
    if (status == LogStatus::Off)
        return;
    QFile file(fileNameFor(QDateTime::currentDateTime()));
    if (!file.open(QIODevice::WriteOnly))
        return; // no ./log/ folder, or not writable: nothing to report to
    QTextStream stream(&file);
    stream << browser->document()->toPlainText();
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
