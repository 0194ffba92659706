#include "ui/account/referralredeem.h"

#include <QPushButton>

namespace Tavrix {

ReferralRedeem::ReferralRedeem(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Redeem Referral"), 5, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &ReferralRedeem::clickBack);
}

} // namespace Tavrix
