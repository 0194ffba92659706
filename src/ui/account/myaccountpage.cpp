#include "ui/account/myaccountpage.h"

#include <QPushButton>

namespace Tavrix {

MyAccountPage::MyAccountPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("My Account"), 2, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &MyAccountPage::clickBack);
}

} // namespace Tavrix
