#include "app/UI_AboutPanel.h"

#include "app/ProductSite.h"
#include "platform/SystemConstants.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QUrl>

UI_AboutPanel::UI_AboutPanel(QWidget *parent) : QDialog(parent)
{
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("About Tarnowlock"));

    auto *icon = new QLabel;
    icon->setPixmap(QPixmap(QStringLiteral(":/Resources/icon/About.png")));
    auto *homepage =
        new QLabel(QStringLiteral("Homepage: <a href='%1'>%1</a>").arg(productSite.toHtmlEscaped()));
    homepage->setTextFormat(Qt::RichText);
    connect(homepage, &QLabel::linkActivated, this, &UI_AboutPanel::openUrl);
    auto *notice = new QLabel(QStringLiteral("Copyright &copy; 2026 the Tarnowlock developers. "
                                             "Provided as is, without warranty of any kind."));
    notice->setTextFormat(Qt::RichText);
    auto *version = new QLabel(QStringLiteral("Version: ") + appVersion);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    aboutLayout = new QGridLayout;
    aboutLayout->addWidget(icon, 0, 0, -1, 1);
    aboutLayout->addWidget(version, 0, 1, 1, 3);
    aboutLayout->addWidget(homepage, 1, 1, 1, 3);
    aboutLayout->addWidget(notice, 2, 1, 1, 3);
    aboutLayout->addWidget(buttons, 3, 3);
    setLayout(aboutLayout);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

UI_AboutPanel::~UI_AboutPanel() = default;

void UI_AboutPanel::openUrl(const QString &url)
{
    QDesktopServices::openUrl(QUrl(url));
}
