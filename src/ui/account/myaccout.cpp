#include "ui/account/myaccout.h"

#include "common/user.h"

namespace Tavrix {

MyAccout::MyAccout(QWidget *parent)
    : MenuCard(parent)
{
    setTitle(QStringLiteral("My Account"));
    refresh();
}

QString MyAccout::pictureFor(int isLoyalUser, int userType)
{
    if (isLoyalUser != 0)
        return QStringLiteral(":/assets/loyal_server.png");
    switch (userType) {
    case 1:
        return QStringLiteral(":/assets/my account card.png");
    case 2:
        return QStringLiteral(":/assets/my account premium.png");
    default:
        return QStringLiteral(":/assets/my account free.png");
    }
}

void MyAccout::showEvent(QShowEvent *event)
{
    refresh();
    MenuCard::showEvent(event);
}

void MyAccout::refresh()
{
    const auto user = User::instance();
    setText(QStringLiteral("Status: ") + user->typeText());
    setLogo(pictureFor(user->is_loyal_user(), user->user_type()));
}

} // namespace Tavrix
