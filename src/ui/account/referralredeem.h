#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// Redeeming a friend's referral code.
class ReferralRedeem : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit ReferralRedeem(QWidget *parent = nullptr);

signals:
    void clickBack();
    void refresh();
};

} // namespace Tavrix
