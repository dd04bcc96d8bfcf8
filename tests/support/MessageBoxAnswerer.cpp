#include "tests/support/MessageBoxAnswerer.h"

#include <QAbstractButton>
#include <QApplication>

namespace {

QString iconName(QMessageBox::Icon icon)
{
    switch (icon) {
    case QMessageBox::Information:
        return QStringLiteral("information");
    case QMessageBox::Warning:
        return QStringLiteral("warning");
    case QMessageBox::Critical:
        return QStringLiteral("critical");
    default:
        return QStringLiteral("other");
    }
}

} // namespace

MessageBoxAnswerer::MessageBoxAnswerer(QMessageBox::StandardButton answer) : answer(answer)
{
    connect(&poll, &QTimer::timeout, this, &MessageBoxAnswerer::answerOpenBox);
    poll.start(10);
}

void MessageBoxAnswerer::answerOpenBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        return;
    shown << iconName(box->icon()) + QLatin1Char('|') + box->text();
    if (QAbstractButton *button = box->button(answer))
        button->click();
    else
        box->done(QMessageBox::NoButton);
}
