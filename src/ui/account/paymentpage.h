#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// Plans and checkout links of the web shop.
class PaymentPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit PaymentPage(QWidget *parent = nullptr);

signals:
    void clickBack();
};

} // namespace Tavrix
