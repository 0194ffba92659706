#pragma once

#include "ui/account/menucard.h"

namespace Tavrix {

// The subscription card of the side menu: an offer for free accounts, the expiry for paid
// ones. Refreshed each time it is shown.
class PremiumButton : public MenuCard
{
    Q_OBJECT
public:
    explicit PremiumButton(QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
};

} // namespace Tavrix
