#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// The account page: type, expiry and credentials of the signed-in account.
class MyAccountPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit MyAccountPage(QWidget *parent = nullptr);

signals:
    void clickBack();
    void byNowButtonClick();
    void paymentHistoryButtonClick();
};

} // namespace Tavrix
