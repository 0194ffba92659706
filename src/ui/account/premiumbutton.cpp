#include "ui/account/premiumbutton.h"

#include "common/user.h"
#include "ui/brand.h"

namespace Tavrix {

PremiumButton::PremiumButton(QWidget *parent)
    : MenuCard(parent)
{
    setTitle(QStringLiteral("Premuim"));
    setLogo(QStringLiteral(":/assets/FreeUsercrown.png"));
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
        Brand::setStyleState(this, "plan", QStringLiteral("free"));
        setEnabled(true);
        return;
    }
    if (user->is_loyal_user() != 0) {
        setTitle(QStringLiteral("loyalty Member"));
        Brand::setStyleState(this, "plan", QStringLiteral("loyal"));
    } else {
        setTitle(QStringLiteral("Premium"));
        Brand::setStyleState(this, "plan", QStringLiteral("premium"));
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
