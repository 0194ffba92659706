#include "accountapi.h"

#include <QJsonObject>
#include <QRegularExpression>

#include "accountreplies.h"
#include "accountstore.h"
#include "wire.h"

namespace Tavrix {
namespace Dev {

namespace {

Reply json(const QJsonObject &object, int status = 200)
{
    return Reply{status, asciiJson(object), "application/json"};
}

Reply protectedJson(const QJsonObject &object)
{
    return Reply{200, protectReply(asciiJson(object)), "text/plain; charset=utf-8"};
}

Reply refusal(int status, const QString &message)
{
    return Reply{status, messageBody(message), "application/json"};
}

QJsonObject outcome(int code, const QString &message)
{
    return QJsonObject{{QStringLiteral("response_code"), code}, {QStringLiteral("message"), message}};
}

// The first required field that is absent gives a 422, as the service's validator does.
bool missing(const Call &call, const QStringList &names, Reply *reply)
{
    for (const QString &name : names) {
        if (!call.form.contains(name)) {
            *reply = refusal(422, QStringLiteral("The %1 field is required.").arg(name));
            return true;
        }
    }
    return false;
}

bool emptyValue(const Call &call, const QStringList &names, Reply *reply)
{
    for (const QString &name : names) {
        if (call.form.value(name).trimmed().isEmpty()) {
            *reply = refusal(422, QStringLiteral("The %1 field must not be empty.").arg(name));
            return true;
        }
    }
    return false;
}

bool notOneOf(const Call &call, const QString &name, const QStringList &allowed, Reply *reply)
{
    if (allowed.contains(call.form.value(name)))
        return false;
    *reply = refusal(422, QStringLiteral("The selected %1 is invalid.").arg(name));
    return true;
}

bool notInteger(const Call &call, const QString &name, Reply *reply)
{
    bool ok = false;
    call.form.value(name).toInt(&ok);
    if (ok)
        return false;
    *reply = refusal(422, QStringLiteral("The %1 must be an integer.").arg(name));
    return true;
}

// The calls after sign-in carry the credentials; passwordField is "pass" or "password".
bool signedIn(const AccountStore &accounts, const Call &call, const QString &passwordField, Account *account,
              Reply *reply)
{
    if (missing(call, {QStringLiteral("username"), passwordField, QStringLiteral("udid")}, reply) ||
        emptyValue(call, {QStringLiteral("udid")}, reply))
        return false;
    if (!accounts.authenticate(call.form.value(QStringLiteral("username")), call.form.value(passwordField), account)) {
        *reply = refusal(403, QStringLiteral("Your session has expired. Please sign in again."));
        return false;
    }
    if (account->kind == Account::Suspended) {
        *reply = refusal(403, QStringLiteral("This account has been suspended. Please contact support."));
        return false;
    }
    return true;
}

} // namespace

bool AccountApi::isEmail(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,}$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern.match(text).hasMatch();
}

Reply AccountApi::login(const Call &call) const
{
    Reply reply;
    const QStringList required = {
        QStringLiteral("username"),      QStringLiteral("pass"),        QStringLiteral("udid"),
        QStringLiteral("vpnAppVersion"), QStringLiteral("brand"),       QStringLiteral("osName"),
        QStringLiteral("osVersion"),     QStringLiteral("bundle"),      QStringLiteral("bundle2"),
        QStringLiteral("isRooted"),      QStringLiteral("device_type"), QStringLiteral("app_id"),
        QStringLiteral("player_id")};
    if (missing(call, required, &reply) ||
        emptyValue(call, {QStringLiteral("username"), QStringLiteral("pass")}, &reply) ||
        notOneOf(call, QStringLiteral("isRooted"), {QStringLiteral("0"), QStringLiteral("1")}, &reply) ||
        notOneOf(call, QStringLiteral("device_type"), {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")},
                 &reply) ||
        notInteger(call, QStringLiteral("app_id"), &reply))
        return reply;
    static const QRegularExpression deviceId(QStringLiteral("^[0-9a-f]{64}$"));
    if (!deviceId.match(call.form.value(QStringLiteral("udid"))).hasMatch())
        return refusal(422, QStringLiteral("The udid must be 64 hexadecimal digits."));

    Account account;
    if (!m_accounts.authenticate(call.form.value(QStringLiteral("username")), call.form.value(QStringLiteral("pass")),
                                 &account))
        return protectedJson(outcome(2, QStringLiteral("Invalid email or password.")));
    if (account.kind == Account::Suspended)
        return refusal(403, QStringLiteral("This account has been suspended. Please contact support."));

    QString model = call.headers.value(QStringLiteral("model"));
    if (model.isEmpty() || model == QLatin1String("Unknown"))
        model = call.form.value(QStringLiteral("brand"));
    m_accounts.rememberDevice(
        account.email,
        QJsonObject{{QStringLiteral("os_name"), call.form.value(QStringLiteral("osName"))},
                    {QStringLiteral("model"), model},
                    {QStringLiteral("brand"), call.form.value(QStringLiteral("brand"))},
                    {QStringLiteral("os_version"), call.form.value(QStringLiteral("osVersion"))},
                    {QStringLiteral("vpn_app_version"), call.form.value(QStringLiteral("vpnAppVersion"))},
                    {QStringLiteral("udid"), call.form.value(QStringLiteral("udid"))}});
    return protectedJson(AccountReplies(m_catalog, call.origin).signIn(account));
}

Reply AccountApi::signUp(const Call &call) const
{
    Reply reply;
    if (missing(call,
                {QStringLiteral("username"), QStringLiteral("password"), QStringLiteral("should_receive_promotion"),
                 QStringLiteral("timezone"), QStringLiteral("subscription_code")},
                &reply) ||
        notOneOf(call, QStringLiteral("should_receive_promotion"), {QStringLiteral("0"), QStringLiteral("1")}, &reply))
        return reply;
    const QString email = call.form.value(QStringLiteral("username"));
    if (!isEmail(email))
        return refusal(422, QStringLiteral("The username must be a valid email address."));
    if (call.form.value(QStringLiteral("password")).size() < 6)
        return refusal(422, QStringLiteral("The password must be at least 6 characters."));
    static const QRegularExpression offset(QStringLiteral("^[+-](0\\d|1[0-4]):[0-5]\\d$"));
    if (!offset.match(call.form.value(QStringLiteral("timezone"))).hasMatch())
        return refusal(422, QStringLiteral("The timezone must be a UTC offset such as +06:00."));
    const QString code = call.form.value(QStringLiteral("subscription_code")).trimmed();
    if (!code.isEmpty() && !code.toUpper().startsWith(QLatin1String("TAVRIX-")))
        return refusal(422, QStringLiteral("The subscription code is invalid."));

    if (!m_accounts.signUp(email, call.form.value(QStringLiteral("password"))))
        return json(outcome(2, QStringLiteral("The email has already been taken.")));
    if (!code.isEmpty())
        m_accounts.redeemVoucher(email, code, nullptr);
    return json(outcome(1, QStringLiteral("Account created. We have sent a verification link to your email address.")));
}

Reply AccountApi::forgotPassword(const Call &call) const
{
    Reply reply;
    if (missing(call, {QStringLiteral("username")}, &reply))
        return reply;
    const QString email = call.form.value(QStringLiteral("username"));
    if (!isEmail(email))
        return refusal(422, QStringLiteral("The username must be a valid email address."));
    if (!m_accounts.find(email, nullptr))
        return refusal(422, QStringLiteral("We can't find a user with that email address."));
    return json(outcome(1, QStringLiteral("We have emailed your password reset link.")));
}

Reply AccountApi::newsletter(const Call &call) const
{
    Reply reply;
    if (missing(call, {QStringLiteral("email")}, &reply))
        return reply;
    const QString email = call.form.value(QStringLiteral("email"));
    if (!isEmail(email))
        return refusal(422, QStringLiteral("The email must be a valid email address."));
    if (!m_accounts.subscribeNewsletter(email))
        return json(outcome(2, QStringLiteral("This email address is already subscribed.")));
    return json(outcome(1, QStringLiteral("Thank you for subscribing!")));
}

Reply AccountApi::redeemVoucher(const Call &call) const
{
    Reply reply;
    Account account;
    if (!signedIn(m_accounts, call, QStringLiteral("password"), &account, &reply) ||
        missing(call, {QStringLiteral("subscription_code"), QStringLiteral("noEncrypted")}, &reply) ||
        notOneOf(call, QStringLiteral("noEncrypted"), {QStringLiteral("0"), QStringLiteral("1")}, &reply) ||
        emptyValue(call, {QStringLiteral("subscription_code")}, &reply))
        return reply;
    int days = 0;
    QJsonObject answer;
    switch (m_accounts.redeemVoucher(account.email, call.form.value(QStringLiteral("subscription_code")), &days)) {
    case AccountStore::Redeem::Done:
        answer = outcome(1, QStringLiteral("Voucher redeemed: %1 days of Premium added to your account.").arg(days));
        break;
    case AccountStore::Redeem::Used:
        answer = outcome(2, QStringLiteral("This voucher has already been used."));
        break;
    case AccountStore::Redeem::Unknown:
        answer = outcome(2, QStringLiteral("Invalid voucher code."));
        break;
    }
    return call.form.value(QStringLiteral("noEncrypted")) == QLatin1String("1") ? json(answer) : protectedJson(answer);
}

Reply AccountApi::devices(const Call &call) const
{
    Reply reply;
    Account account;
    if (!signedIn(m_accounts, call, QStringLiteral("pass"), &account, &reply))
        return reply;
    QJsonObject answer = outcome(1, QStringLiteral("Logged in devices"));
    answer.insert(QStringLiteral("data"), m_accounts.devices(account.email));
    return protectedJson(answer);
}

Reply AccountApi::referInfo(const Call &call) const
{
    Reply reply;
    Account account;
    if (!signedIn(m_accounts, call, QStringLiteral("password"), &account, &reply))
        return reply;
    return protectedJson(AccountReplies(m_catalog, call.origin).referInfo(account));
}

Reply AccountApi::referSubmit(const Call &call) const
{
    Reply reply;
    Account account;
    if (!signedIn(m_accounts, call, QStringLiteral("password"), &account, &reply) ||
        missing(call, {QStringLiteral("referral_code")}, &reply) ||
        emptyValue(call, {QStringLiteral("referral_code")}, &reply))
        return reply;
    switch (m_accounts.redeemReferral(account.email, call.form.value(QStringLiteral("referral_code")))) {
    case AccountStore::Refer::Done:
        return protectedJson(outcome(1, QStringLiteral("Congratulations! You've unlocked 3 days of Premium VPN.")));
    case AccountStore::Refer::Own:
        return protectedJson(outcome(2, QStringLiteral("You cannot redeem your own referral code.")));
    case AccountStore::Refer::Used:
        return protectedJson(outcome(2, QStringLiteral("You have already redeemed a referral code.")));
    case AccountStore::Refer::Unknown:
        break;
    }
    return protectedJson(outcome(2, QStringLiteral("Invalid referral code.")));
}

Reply AccountApi::darkWeb(const Call &call) const
{
    Reply reply;
    Account account;
    if (!signedIn(m_accounts, call, QStringLiteral("password"), &account, &reply) ||
        missing(call, {QStringLiteral("request_type"), QStringLiteral("requested_value")}, &reply) ||
        notOneOf(call, QStringLiteral("request_type"), {QStringLiteral("1")}, &reply))
        return reply;
    if (!isEmail(call.form.value(QStringLiteral("requested_value"))))
        return refusal(422, QStringLiteral("The requested value must be a valid email address."));
    return protectedJson(
        outcome(1, QStringLiteral("Your request has been received. The report will be sent to your email.")));
}

Reply AccountApi::purchaseHistory(const Call &call) const
{
    Reply reply;
    Account account;
    if (!signedIn(m_accounts, call, QStringLiteral("pass"), &account, &reply) ||
        missing(call, {QStringLiteral("noEncrypted")}, &reply) ||
        notOneOf(call, QStringLiteral("noEncrypted"), {QStringLiteral("0"), QStringLiteral("1")}, &reply))
        return reply;
    QJsonObject answer = outcome(1, QStringLiteral("Purchase history"));
    answer.insert(QStringLiteral("data"), AccountReplies(m_catalog, call.origin).purchaseHistory(account));
    return call.form.value(QStringLiteral("noEncrypted")) == QLatin1String("1") ? json(answer) : protectedJson(answer);
}

Reply AccountApi::wireGuard(const Call &call) const
{
    Reply reply;
    Account account;
    if (!signedIn(m_accounts, call, QStringLiteral("pass"), &account, &reply) ||
        missing(call, {QStringLiteral("vpnserverId"), QStringLiteral("ipId"), QStringLiteral("connection_type")},
                &reply) ||
        notInteger(call, QStringLiteral("vpnserverId"), &reply) || notInteger(call, QStringLiteral("ipId"), &reply) ||
        notInteger(call, QStringLiteral("connection_type"), &reply))
        return reply;
    const QString config = AccountReplies(m_catalog, call.origin)
                               .wireGuardConfig(account, call.form.value(QStringLiteral("ipId")).toInt(),
                                                call.form.value(QStringLiteral("udid")));
    if (config.isEmpty())
        return refusal(422, QStringLiteral("The selected server does not offer WireGuard to this account."));
    return Reply{200, protectReply(config.toUtf8()), "text/plain; charset=utf-8"};
}

Reply AccountApi::publicIp(const Call &call) const
{
    QString address = call.remoteAddress;
    if (address.startsWith(QLatin1String("::ffff:")))
        address = address.mid(7);
    return json(QJsonObject{{QStringLiteral("ip"), address}});
}

} // namespace Dev
} // namespace Tavrix
