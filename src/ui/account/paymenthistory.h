#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// The account's purchases.
class PaymentHistory : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit PaymentHistory(QWidget *parent = nullptr);

signals:
    void btnBackPressed();
};

} // namespace Tavrix
