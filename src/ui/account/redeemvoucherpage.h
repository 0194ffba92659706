#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// Redeeming a voucher code.
class RedeemVoucherPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit RedeemVoucherPage(QWidget *parent = nullptr);

signals:
    void clickBack();
};

} // namespace Tavrix
