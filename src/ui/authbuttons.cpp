#include "ui/authbuttons.h"

#include <QDesktopServices>
#include <QIcon>

#include "ui/webaddresses.h"

namespace Tavrix {

AuthButton::AuthButton(const QString &iconPath, const QString &text, QWidget *parent)
    : QPushButton(QIcon(iconPath), text, parent)
{
    setCursor(Qt::PointingHandCursor);
    setIconSize(QSize(20, 20));
    setMinimumHeight(40);
    setAutoDefault(false);
}

GoogleAuthButton::GoogleAuthButton(QWidget *parent)
    : AuthButton(QStringLiteral(":/assets/Google.png"), QStringLiteral("Continue with Google"), parent)
{
    connect(this, &QPushButton::clicked, this, &GoogleAuthButton::openSocialSignIn);
}

void GoogleAuthButton::openSocialSignIn()
{
    QDesktopServices::openUrl(WebAddress::socialAuth());
    emit googleSignInButtonPress();
}

AppleAuthButton::AppleAuthButton(QWidget *parent)
    : AuthButton(QStringLiteral(":/assets/app store.png"), QStringLiteral("Continue with Apple"), parent)
{
}

SignUpGmailButton::SignUpGmailButton(QWidget *parent)
    : AuthButton(QStringLiteral(":/assets/mail.png"), QStringLiteral("Sign Up with E-mail"), parent)
{
    connect(this, &QPushButton::pressed, this, &SignUpGmailButton::signUpButtonPress);
}

} // namespace Tavrix
