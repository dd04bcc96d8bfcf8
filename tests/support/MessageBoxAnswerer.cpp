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

QString buttonNames(QMessageBox::StandardButtons buttons)
{
    QStringList names;
    const std::pair<QMessageBox::StandardButton, const char *> known[] = {{QMessageBox::Ok, "Ok"},
                                                                          {QMessageBox::Yes, "Yes"},
                                                                          {QMessageBox::No, "No"},
                                                                          {QMessageBox::Cancel, "Cancel"}};
    for (const auto &[button, name] : known) {
        if (buttons.testFlag(button))
            names << QString::fromLatin1(name);
    }
    return names.join(QLatin1Char(' '));
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
    shown << iconName(box->icon()) + QLatin1Char('|') + box->windowTitle() + QLatin1Char('|') + box->text() +
                 QLatin1Char('|') + buttonNames(box->standardButtons());
    if (whileShown)
        whileShown();
    if (QAbstractButton *button = box->button(answer))
        button->click();
    else
        box->done(QMessageBox::NoButton);
}
