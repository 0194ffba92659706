#include "ui/account/premiumbutton.h"

#include "common/user.h"

namespace Tavrix {

PremiumButton::PremiumButton(QWidget *parent)
    : MenuCard(parent)
{
    setTitle(QStringLiteral("Premuim"));
    setLogo(QStringLiteral(":/assets/FreeUsercrown.png"));
    setTextColour("white");
    refresh();
}

void PremiumButton::showEvent(QShowEvent *event)
{
    refresh();
    MenuCard::showEvent(event);
}

void PremiumButton::refresh()
{
    const auto user = User::instance();
    if (user->user_type() == 3) {
        setTitle(QStringLiteral("Buy Premium"));
        setText(QStringLiteral("100+ servers & 75+ location"));
        setBackground(QStringLiteral("border-image: url(:/assets/freeUser_Back.png) stretch stretch;"));
        setEnabled(true);
        return;
    }
    if (user->is_loyal_user() != 0) {
        setTitle(QStringLiteral("loyalty Member"));
        setBackground(QStringLiteral("border-image: url(:/assets/loyal_background.png) stretch stretch;"));
    } else {
        setTitle(QStringLiteral("Premium"));
        setBackground(QStringLiteral("border-image: url(:/assets/PremiumBack.png) stretch stretch;"));
    }
    if (user->expire_in_days() != 0) {
        setText(QStringLiteral("Expiring in") + QLatin1Char(' ') + QString::number(user->expire_in_days()) +
                QLatin1Char(' ') + QStringLiteral("days"));
        setEnabled(false);
    } else {
        setText(QStringLiteral("Subscription Expired"));
        setEnabled(true);
    }
}

} // namespace Tavrix
