#include "configdocuments.h"

#include <QJsonArray>

#include "endpoints.h"
#include "wire.h"

namespace Tavrix {
namespace Dev {

namespace {

QJsonObject stringValue(const QString &text)
{
    return QJsonObject{{QStringLiteral("stringValue"), text}};
}

const char *const updateTime = "2025-11-03T09:12:44.317215Z";

// Feature ~~ free ~~ premium, rows separated by commas (the plans page splits on both).
const char *const freeVersusPaid = "Servers~~10 locations~~100+ servers in 55 countries,"
                                   "Speed~~Standard~~Up to 10 Gbps,"
                                   "Simultaneous devices~~1~~6,"
                                   "Streaming servers~~No~~Yes,"
                                   "Gaming servers~~No~~Yes,"
                                   "Ad blocking~~No~~Yes,"
                                   "Kill switch~~Yes~~Yes,"
                                   "Support~~E-mail~~24/7 live chat";

} // namespace

QString ConfigDocuments::url(const char *path) const
{
    return m_origin + QLatin1String(path);
}

QStringList ConfigDocuments::countriesWithOwnSignIn()
{
    return {QStringLiteral("BD"), QStringLiteral("IN"), QStringLiteral("PK")};
}

QJsonObject ConfigDocuments::fields() const
{
    auto protect = [](const QString &text) { return stringValue(protectEndpoint(text)); };
    return QJsonObject{
        {QStringLiteral("app_id"), protect(url(Path::login))},
        {QStringLiteral("signup"), protect(url(Path::signUp))},
        {QStringLiteral("forgot_url"), stringValue(url(Path::forgotPassword))},
        {QStringLiteral("pricing_online"), stringValue(url(Path::pricing))},
        {QStringLiteral("free_vs_paid"), protect(QLatin1String(freeVersusPaid))},
        {QStringLiteral("loggedDevice"), protect(url(Path::devices))},
        {QStringLiteral("email_subs_url"), protect(url(Path::newsletter))},
        {QStringLiteral("voucher_redeem"), protect(url(Path::voucher))},
        {QStringLiteral("refer_submit_v2"), protect(url(Path::referSubmit))},
        {QStringLiteral("refer_refresh"), protect(url(Path::referInfo))},
        {QStringLiteral("darkweb_url"), protect(url(Path::darkWeb))},
        {QStringLiteral("ip_check_url"), protect(url(Path::publicIp))},
        {QStringLiteral("purchase_history"), protect(url(Path::purchaseHistory))},
        {QStringLiteral("rate_us"), protect(url(Path::rateUs))},
        {QStringLiteral("wg_con_v2"), protect(url(Path::wireGuard))},
        // Older releases' keys the service still publishes.
        {QStringLiteral("refer_submit"), protect(url(Path::referSubmit))},
        {QStringLiteral("min_supported_version"), stringValue(QStringLiteral("5.0.0"))},
    };
}

QJsonObject ConfigDocuments::countryDocument(const QString &parent, const QString &code) const
{
    const QString lower = code.toLower();
    auto protect = [](const QString &text) { return stringValue(protectEndpoint(text)); };
    return QJsonObject{
        {QStringLiteral("name"), parent + QStringLiteral("/apis/") + code},
        {QStringLiteral("fields"),
         QJsonObject{{QStringLiteral("login_url"), protect(url(Path::login) + QLatin1Char('/') + lower)},
                     {QStringLiteral("signup_url"), protect(url(Path::signUp) + QLatin1Char('/') + lower)},
                     {QStringLiteral("social_auth_url"), protect(m_origin + QStringLiteral("/social-auth-attempt"))}}},
        {QStringLiteral("createTime"), QLatin1String(updateTime)},
        {QStringLiteral("updateTime"), QLatin1String(updateTime)},
    };
}

QJsonObject ConfigDocuments::firestoreDocument(const QString &project, const QString &document) const
{
    return QJsonObject{
        {QStringLiteral("name"),
         QStringLiteral("projects/%1/databases/(default)/documents/global/%2").arg(project, document)},
        {QStringLiteral("fields"), fields()},
        {QStringLiteral("createTime"), QStringLiteral("2023-04-18T06:30:02.114842Z")},
        {QStringLiteral("updateTime"), QLatin1String(updateTime)},
    };
}

QJsonObject ConfigDocuments::firestoreListing(const QString &project, const QString &document) const
{
    const QString parent = QStringLiteral("projects/%1/databases/(default)/documents/global/%2").arg(project, document);
    QJsonArray documents;
    for (const QString &code : countriesWithOwnSignIn())
        documents.append(countryDocument(parent, code));
    return QJsonObject{{QStringLiteral("documents"), documents}};
}

QJsonObject ConfigDocuments::relayMain() const
{
    return QJsonObject{{QStringLiteral("fields"), fields()}};
}

QJsonObject ConfigDocuments::relayCountry() const
{
    QJsonObject out = firestoreListing(QStringLiteral("tavrixvpn-prod"), QStringLiteral("config"));
    out.insert(QStringLiteral("login_url"), protectEndpoint(url(Path::login)));
    out.insert(QStringLiteral("signup_url"), protectEndpoint(url(Path::signUp)));
    return out;
}

} // namespace Dev
} // namespace Tavrix
