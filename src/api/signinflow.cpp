#include "api/signinflow.h"

#include "api/apirequest.h"
#include "common/config.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {

const char *SignInFlow::banner(Mode mode)
{
    switch (mode) {
    case SignUp:
        return "📝 Signup Function Called";
    case ResetPassword:
        return "🔑 Forgot Password Function Called";
    case SignIn:
        break;
    }
    return "🔐 Login Function Called";
}

QString SignInFlow::cleaned(const QString &text)
{
    return text.simplified().remove(QLatin1Char(' '));
}

SignInFlow::Entered SignInFlow::prepared(Mode mode, const Entered &entered)
{
    if (mode == ResetPassword)
        return {entered.user, QString(), QString(), QString(), false};
    Entered result;
    result.user = cleaned(entered.user);
    result.password = cleaned(entered.password);
    if (mode == SignUp) {
        result.confirmation = cleaned(entered.confirmation);
        result.subscriptionCode = cleaned(entered.subscriptionCode);
        result.consent = entered.consent;
    }
    return result;
}

std::optional<SignInFlow::Refusal> SignInFlow::refusal(Mode mode, const Entered &prepared)
{
    switch (mode) {
    case SignIn:
        if (prepared.user.isEmpty() || prepared.password.isEmpty())
            return Refusal{"❌ Invalid credentials - empty fields",
                           QStringLiteral("Invalid credentials. Please enter both username and password.")};
        break;
    case SignUp:
        if (prepared.user.isEmpty())
            return Refusal{"❌ Invalid email address", QStringLiteral("Please enter valid email address!")};
        if (prepared.password.isEmpty() || prepared.confirmation.isEmpty())
            return Refusal{"❌ Invalid credentials - empty password", QStringLiteral("Invalid credentials")};
        if (prepared.password.length() < 6)
            return Refusal{"❌ Password too short", QStringLiteral("Password should be minimum 6 characters")};
        if (prepared.password != prepared.confirmation)
            return Refusal{"❌ Passwords do not match", QStringLiteral("Passwords do not match")};
        break;
    case ResetPassword:
        if (prepared.user.isEmpty())
            return Refusal{"❌ Invalid email for password reset",
                           QStringLiteral("*Wrong email, please submit correct email")};
        break;
    }
    return std::nullopt;
}

int SignInFlow::send(ApiRequest &api, Mode mode, const Entered &prepared)
{
    switch (mode) {
    case SignUp:
        return api.signUp(prepared.user, prepared.password,
                          prepared.consent ? QStringLiteral("1") : QStringLiteral("0"), prepared.subscriptionCode);
    case ResetPassword:
        return api.forgotPassword(prepared.user);
    case SignIn:
        break;
    }
    return api.login(prepared.user, prepared.password);
}

bool SignInFlow::autoLoginOffAfterFailure(Mode mode, int code)
{
    return mode == SignIn && ApiRequest::isCredentialRefusal(code);
}

bool SignInFlow::succeeded(Mode mode, int code)
{
    switch (mode) {
    case SignUp:
        return code == ApiRequest::SignUpSuccess;
    case ResetPassword:
        return code == ApiRequest::ForgotPasswordSuccess;
    case SignIn:
        break;
    }
    return code == ApiRequest::LoginSuccess;
}

std::optional<SignInFlow::Credentials> SignInFlow::storedBeforeRequest(Mode mode, const Entered &prepared)
{
    if (mode != SignIn)
        return std::nullopt;
    return Credentials{prepared.user, prepared.password};
}

std::optional<SignInFlow::Credentials> SignInFlow::storedAfterSuccess(Mode mode, const Entered &prepared)
{
    switch (mode) {
    case SignUp:
        return Credentials{prepared.user, prepared.password};
    case ResetPassword:
        return Credentials{};
    case SignIn:
        break;
    }
    return std::nullopt;
}

void SignInFlow::store(const Credentials &credentials)
{
    auto connection = OpenConnectConnection::instance();
    connection->setUsername(credentials.user);
    connection->setPassword(credentials.password);
    auto config = Config::instance();
    config->setUserName(credentials.user, true);
    config->setPassword(credentials.password, true);
    config->save();
}

} // namespace Tavrix
