#include "ui/account/redeemvoucherpage.h"

#include <QPushButton>

namespace Tavrix {

RedeemVoucherPage::RedeemVoucherPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Redeem Voucher"), 11, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &RedeemVoucherPage::clickBack);
}

} // namespace Tavrix
