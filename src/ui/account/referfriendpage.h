#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// Referral information and sharing.
class ReferFriendPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit ReferFriendPage(QWidget *parent = nullptr);

signals:
    void clickBack();
    void redeemReferalClick();
};

} // namespace Tavrix
