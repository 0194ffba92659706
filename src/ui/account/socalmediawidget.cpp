#include "ui/account/socalmediawidget.h"

#include <QGraphicsDropShadowEffect>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "common/user.h"
#include "ui/account/referralshare.h"
#include "ui/urlopener.h"

namespace Tavrix {

SocialPlatformWidget::SocialPlatformWidget(const QString &title, const QString &icon, QWidget *parent)
    : QPushButton(QIcon(icon), title, parent)
    , m_title(title)
{
    setObjectName(QStringLiteral("socialPlatformWidget"));
    setIconSize(QSize(22, 22));
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(48);
    connect(this, &QPushButton::clicked, this, [this] { emit chosen(m_title); });
}

SocalMediaWidget::SocalMediaWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("SocalMediaWidget"));
    setAttribute(Qt::WA_StyledBackground);
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(30);
    shadow->setOffset(3, 3);
    shadow->setColor(QColor(0, 0, 0, 60));
    setGraphicsEffect(shadow);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    auto *caption = new QLabel(QStringLiteral("Share Via"), this);
    caption->setObjectName(QStringLiteral("lblShareVia"));
    column->addWidget(caption);
    auto *grid = new QGridLayout;
    grid->setSpacing(6);
    const QStringList titles = ReferralShare::titles();
    for (int i = 0; i < titles.size(); ++i) {
        auto *entry = new SocialPlatformWidget(titles.at(i), ReferralShare::icon(titles.at(i)), this);
        grid->addWidget(entry, i / 2, i % 2);
        connect(entry, &SocialPlatformWidget::chosen, this, [this](const QString &title) {
            share(title);
            close();
        });
    }
    column->addLayout(grid);
}

void SocalMediaWidget::share(const QString &title)
{
    openUrl(ReferralShare::address(title, User::instance()->referralCode()));
}

} // namespace Tavrix
