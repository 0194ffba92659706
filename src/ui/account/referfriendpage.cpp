#include "ui/account/referfriendpage.h"

#include <QPushButton>

namespace Tavrix {

ReferFriendPage::ReferFriendPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Free Bonus"), 8, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &ReferFriendPage::clickBack);
}

} // namespace Tavrix
