#include "log/UI_LogPanel.h"

#include "log/LogView.h"

#include <QDateTime>
#include <QGridLayout>

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
      layout(new QGridLayout(this)), browser(new LogView(levelFormats, maxShownLines)),
      journal(logDir, [this](int level, const QString &message) { appendLog(message, level, false); })
{
    layout->addWidget(browser);
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
    LogLine line{clock.localMsecs(), level, escapedForLog(text)};
    journal.append(line);
    browser->append(std::move(line));
    painted = false;
    // Shown at once, also while the caller keeps the GUI thread busy, but not more often than the
    // screen can show it: a burst of lines is painted together.
    if (sincePaint.elapsed() >= paintIntervalMs)
        showPending();
    else if (!paintTimer.isActive())
        paintTimer.start(paintIntervalMs);
}

void UI_LogPanel::showPending()
{
    if (painted)
        return;
    browser->refresh();
    painted = true;
    sincePaint.restart();
}

LogView *UI_LogPanel::browserWidget()
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
    return logDir + JournalWriter::stemFor(when) + QStringLiteral(".log");
}

void UI_LogPanel::save()
{
    // Every line is on disk already; the file of the run gets its name. Lines logged before an Off
    // stay (only a run Off throughout writes no file).
    showPending();
    journal.finish(JournalWriter::stemFor(QDateTime::currentDateTime()));
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
