#include "api/endpointdocuments.h"

#include <QJsonArray>
#include <QStringList>

namespace Tavrix {
namespace EndpointDocuments {

QString fieldString(const QJsonObject &fields, const QString &name)
{
    return fields.value(name).toObject().value(QStringLiteral("stringValue")).toString();
}

CountryEndpoints countryEndpoints(const QJsonObject &countryDocument, const QString &countryCode)
{
    CountryEndpoints result;
    // An unmapped zone has no code: no document can be meant for it.
    if (countryCode.isEmpty())
        return result;
    const QJsonArray documents = countryDocument.value(QStringLiteral("documents")).toArray();
    for (const QJsonValue &entry : documents) {
        const QJsonObject document = entry.toObject();
        const QStringList parts = document.value(QStringLiteral("name")).toString().split(QLatin1Char('/'));
        if (parts.last() != countryCode)
            continue;
        const QJsonObject fields = document.value(QStringLiteral("fields")).toObject();
        result.found = true;
        result.login = fieldString(fields, QStringLiteral("login_url"));
        result.signup = fieldString(fields, QStringLiteral("signup_url"));
        result.socialAuth = fieldString(fields, QStringLiteral("social_auth_url"));
        break;
    }
    return result;
}

const QVector<Endpoint> &endpointTable()
{
    static const QVector<Endpoint> table = {
        {"app_id", "LoginURL", true, "Login URL saved"},
        {"signup", "SignUpURL", true, "Signup URL saved"},
        {"forgot_url", "ForgotPasswordURL", false, "Forgot Password URL saved"},
        {"pricing_online", "pricingOnline", false, "Pricing Online saved"},
        {"free_vs_paid", "freeVSpaid", true, "Free vs Paid data saved"},
        {"loggedDevice", "loggedDevice", true, "Logged Device URL saved"},
        {"email_subs_url", "emailSubsUrl", true, "Email Subscription URL saved"},
        {"voucher_redeem", "redeemVoucherURL", true, "Redeem Voucher URL saved"},
        {"refer_submit_v2", "ReferURL", true, "Refer URL saved"},
        {"refer_refresh", "RererInfoURL", true, "Refer Info URL saved"},
        {"darkweb_url", "darkWebURL", true, "Dark Web URL saved"},
        {"ip_check_url", "publicIPURL", true, "Public IP URL saved"},
        {"purchase_history", "purchaseHistoryURL", true, "Purchase History URL saved"},
        {"rate_us", "rateUsURL", true, "Rate Us URL saved"},
        {"wg_con_v2", "wgURL", true, "WireGuard URL saved"},
    };
    return table;
}

QString rawEndpointValue(const Endpoint &endpoint, const QJsonObject &mainFields, const CountryEndpoints &country)
{
    const QString field = QLatin1String(endpoint.field);
    if (!mainFields.contains(field))
        return QString();
    const QLatin1String key(endpoint.settingsKey);
    if (key == QLatin1String("LoginURL") && !country.login.isEmpty())
        return country.login;
    if (key == QLatin1String("SignUpURL") && !country.signup.isEmpty())
        return country.signup;
    return fieldString(mainFields, field);
}

} // namespace EndpointDocuments
} // namespace Tavrix
