#include "accountreplies.h"

#include <QCryptographicHash>
#include <QDate>
#include <QLocale>

#include "endpoints.h"
#include "servercatalog.h"

namespace Tavrix {
namespace Dev {

namespace {

int userType(Account::Kind kind)
{
    switch (kind) {
    case Account::ScratchCard:
        return 1;
    case Account::Premium:
    case Account::Loyal:
        return 2;
    default:
        return 3;
    }
}

bool isPremium(Account::Kind kind)
{
    return kind == Account::Premium || kind == Account::Loyal || kind == Account::ScratchCard;
}

QJsonObject package(int id, const char *name, const char *price, const char *subTitle, const char *highlighted,
                    bool show)
{
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("name"), QLatin1String(name)},
                       {QStringLiteral("price"), QLatin1String(price)},
                       {QStringLiteral("sub_title"), QLatin1String(subTitle)},
                       {QStringLiteral("highlighted_text"), QLatin1String(highlighted)},
                       {QStringLiteral("should_show"), show}};
}

// A WireGuard key: 32 bytes in Base64, derived from a seed so a server keeps its key.
QString keyFrom(const QString &seed)
{
    QByteArray bytes = QCryptographicHash::hash(seed.toUtf8(), QCryptographicHash::Sha256);
    bytes[0] = static_cast<char>(static_cast<uchar>(bytes[0]) & 248);
    bytes[31] = static_cast<char>((static_cast<uchar>(bytes[31]) & 127) | 64);
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

int AccountReplies::bannerCount()
{
    return 3;
}

QJsonObject AccountReplies::paymentPageData() const
{
    return QJsonObject{
        {QStringLiteral("features_img_block"),
         QJsonObject{{QStringLiteral("img_url"), m_origin + QLatin1String(Path::features)},
                     {QStringLiteral("href_com"), m_origin + QStringLiteral("/features?ref=desktop")}}},
        // Four offers in the grid, the fifth (not in the grid) as the wide offer below it.
        {QStringLiteral("card_payment_packages"),
         QJsonArray{package(1, "1 Month", "11.99", "Billed every month", "Most Flexible", true),
                    package(6, "6 Months", "41.99", "Billed every 6 months", "42% Save", true),
                    package(12, "1 Year", "59.99", "Billed every year", "58% Save", true),
                    package(24, "2 Years", "89.99", "Billed every 2 years", "69% Save", true),
                    package(36, "3 Years + 3 Months", "99.99", "Billed once", "Best Value of the year", false)}},
        {QStringLiteral("web_payment_portal_url"), m_origin + QLatin1String(Path::shop)},
    };
}

QJsonObject AccountReplies::bannerData() const
{
    // Listed out of order on purpose: the client sorts by priority.
    const int priorities[] = {3, 1, 2};
    const char *const targets[] = {"/offers/spring-sale", "/offers/refer-a-friend", "/offers/loyalty"};
    QJsonArray slides;
    for (int i = 0; i < bannerCount(); ++i) {
        slides.append(QJsonObject{{QStringLiteral("img"), m_origin + QLatin1String(Path::banners) +
                                                              QStringLiteral("banner-%1.png").arg(i + 1)},
                                  {QStringLiteral("onclick_url"), m_origin + QLatin1String(targets[i])},
                                  {QStringLiteral("priority_slider_img_priority"), priorities[i]},
                                  {QStringLiteral("title"), QStringLiteral("Slide %1").arg(i + 1)}});
    }
    return QJsonObject{{QStringLiteral("slider_images"), slides}, {QStringLiteral("full_screen_image"), QString()}};
}

QJsonObject AccountReplies::signIn(const Account &account) const
{
    const bool premium = isPremium(account.kind);
    const QDate validity = QDate::currentDate().addDays(account.expireInDays);
    return QJsonObject{
        {QStringLiteral("response_code"), 1},
        {QStringLiteral("message"), QStringLiteral("Login successful")},
        {QStringLiteral("username"), account.email},
        {QStringLiteral("user_type"), userType(account.kind)},
        {QStringLiteral("expire_in_days"), account.expireInDays},
        {QStringLiteral("validity_date"),
         premium ? QLocale::c().toString(validity, QStringLiteral("dd-MMM-yyyy")) : QString()},
        {QStringLiteral("is_loyal_user"), account.kind == Account::Loyal ? 1 : 0},
        {QStringLiteral("user_status"), QStringLiteral("1")},
        {QStringLiteral("server_ip"), QStringLiteral("198.18.250.1")},
        {QStringLiteral("server_ip_du"), QStringLiteral("198.18.250.2")},
        {QStringLiteral("contact_email"), QStringLiteral("support@tavrixvpn.test")},
        {QStringLiteral("free_minutes"), premium ? QStringLiteral("0") : QStringLiteral("30")},
        {QStringLiteral("show_banner"), 1},
        {QStringLiteral("show_full_screen"), 0},
        {QStringLiteral("referral_code"), account.referralCode},
        {QStringLiteral("in_app_payment_page_data"), paymentPageData()},
        {QStringLiteral("banner_data"), bannerData()},
        {QStringLiteral("ip_bundle"), m_catalog.forAccount(premium)},
    };
}

QJsonObject AccountReplies::referInfo(const Account &account) const
{
    // The referral page reads the last member in key order, so the data sits under a key
    // that sorts after "message" and "response_code".
    return QJsonObject{
        {QStringLiteral("response_code"), 1},
        {QStringLiteral("message"), QStringLiteral("Referral information")},
        {QStringLiteral("user_referral"),
         QJsonObject{{QStringLiteral("referral_code"), account.referralCode},
                     {QStringLiteral("referred_count"), 2},
                     {QStringLiteral("pageContent"),
                      QJsonObject{{QStringLiteral("title"), QStringLiteral("Give 3 days, get 3 days")},
                                  {QStringLiteral("message"),
                                   QStringLiteral("Share your code with a friend. When they redeem it, "
                                                  "you both get 3 days of Premium VPN for free.")}}}}},
    };
}

QJsonArray AccountReplies::purchaseHistory(const Account &account) const
{
    if (!isPremium(account.kind))
        return QJsonArray();
    const QDate today = QDate::currentDate();
    auto entry = [&](const char *plan, int daysAgo, const char *id) {
        return QJsonObject{
            {QStringLiteral("plan_name"), QLatin1String(plan)},
            {QStringLiteral("tnx_date"), QLocale::c().toString(today.addDays(-daysAgo), QStringLiteral("dd MMM yyyy"))},
            {QStringLiteral("tnx_id"), QLatin1String(id)},
            {QStringLiteral("amount"), QStringLiteral("59.99")},
            {QStringLiteral("currency"), QStringLiteral("USD")}};
    };
    if (account.kind == Account::ScratchCard)
        return QJsonArray{entry("Scratch Card 30 Days", 3, "SC-20251103-88412")};
    QJsonArray out{entry("1 Year", 151, "TX-7F3A91C20B"), entry("1 Month", 190, "TX-51E0D4A7FF")};
    if (account.kind == Account::Loyal)
        out.append(entry("2 Years", 900, "TX-0A9C33E815"));
    return out;
}

QString AccountReplies::wireGuardConfig(const Account &account, int ipId, const QString &udid) const
{
    const QJsonObject entry = m_catalog.server(ipId);
    if (entry.value(QStringLiteral("type")).toInt() != 5 || !isPremium(account.kind))
        return QString();
    if (entry.value(QStringLiteral("is_loyal_user_server")).toInt() != 0 && account.kind != Account::Loyal)
        return QString();
    if (!m_catalog.wireGuardConfig().isEmpty())
        return m_catalog.wireGuardConfig();
    const QByteArray digest = QCryptographicHash::hash((account.email + udid).toUtf8(), QCryptographicHash::Sha256);
    const QString address = QStringLiteral("10.66.%1.%2/32").arg(uchar(digest[0])).arg(uchar(digest[1]) % 253 + 2);
    return QStringLiteral("[Interface]\n"
                          "PrivateKey = %1\n"
                          "Address = %2\n"
                          "DNS = 10.66.0.1\n"
                          "MTU = 1420\n"
                          "\n"
                          "[Peer]\n"
                          "PublicKey = %3\n"
                          "AllowedIPs = 0.0.0.0/0\n"
                          "Endpoint = %4:51820\n"
                          "PersistentKeepalive = 25\n")
        .arg(keyFrom(QStringLiteral("client-") + account.email + udid), address,
             keyFrom(QStringLiteral("server-%1").arg(ipId)), entry.value(QStringLiteral("ip")).toString());
}

} // namespace Dev
} // namespace Tavrix
