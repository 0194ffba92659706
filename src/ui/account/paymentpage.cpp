#include "ui/account/paymentpage.h"

#include <QPushButton>

namespace Tavrix {

PaymentPage::PaymentPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Go Premium"), -1, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &PaymentPage::clickBack);
}

} // namespace Tavrix
