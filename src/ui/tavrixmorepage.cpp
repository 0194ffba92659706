#include "ui/tavrixmorepage.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/account/accountform.h"
#include "ui/urlopener.h"
#include "ui/webaddresses.h"

namespace Tavrix {

// The menu keeps this page's entry hidden: the service names no other offers yet. What it
// would show is the one thing that exists, the download page for the other platforms.
TavrixMorePage::TavrixMorePage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("More from Tavrix"), -1, parent)
{
    QVBoxLayout *column = body();
    column->addSpacing(24);
    column->addWidget(AccountForm::picture(QStringLiteral(":/assets/tavrix-more.png"), 80, this));
    column->addWidget(AccountForm::text(QStringLiteral("Tavrix VPN on all your devices"), "lblTitle", this));
    column->addWidget(AccountForm::text(
        QStringLiteral("One account protects your phone, tablet and computer. Get the app for each of them."),
        "lblMessage", this));
    column->addSpacing(12);
    auto *download = AccountForm::primaryButton(QStringLiteral("Get the apps"), "btnSubmit", this);
    column->addWidget(download);
    column->addStretch(1);
    connect(download, &QPushButton::clicked, this, [] { openUrl(WebAddress::downloadPage()); });
    connect(backButton(), &QPushButton::pressed, this, &TavrixMorePage::clickBack);
}

} // namespace Tavrix
