#pragma once

#include "ui/account/menucard.h"

namespace Tavrix {

// The account card at the top of the side menu: the account type and its picture,
// refreshed each time the card is shown.
class MyAccout : public MenuCard
{
    Q_OBJECT
public:
    explicit MyAccout(QWidget *parent = nullptr);

    // Picture of the account type: loyal, scratch card (1), premium (2) or free.
    static QString pictureFor(int isLoyalUser, int userType);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
};

} // namespace Tavrix
