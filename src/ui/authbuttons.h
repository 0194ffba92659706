#pragma once

#include <QPushButton>

namespace Tavrix {

// The outlined buttons under the sign-in form: an icon and a text.
class AuthButton : public QPushButton
{
    Q_OBJECT
public:
    AuthButton(const QString &iconPath, const QString &text, QWidget *parent = nullptr);
};

// "Continue with Google": opens the social sign-in page in the browser; the result comes
// back later through a login link.
class GoogleAuthButton : public AuthButton
{
    Q_OBJECT
public:
    explicit GoogleAuthButton(QWidget *parent = nullptr);

signals:
    void googleSignInButtonPress();

private slots:
    void openSocialSignIn();
};

// "Continue with Apple": kept hidden; it has no action.
class AppleAuthButton : public AuthButton
{
    Q_OBJECT
public:
    explicit AppleAuthButton(QWidget *parent = nullptr);
};

// "Sign Up with E-mail": switches the sign-in page between signing in and signing up.
class SignUpGmailButton : public AuthButton
{
    Q_OBJECT
public:
    explicit SignUpGmailButton(QWidget *parent = nullptr);

signals:
    void signUpButtonPress();
};

} // namespace Tavrix
