#include "ui/account/paymenthistory.h"

#include <QPushButton>

namespace Tavrix {

PaymentHistory::PaymentHistory(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Purchase History"), -1, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &PaymentHistory::btnBackPressed);
}

} // namespace Tavrix
