#include "common/user.h"

#include <QLocale>

#include <algorithm>

#include "common/config.h"
#include "common/jsonread.h"

namespace Tavrix {

namespace {

bool isUsable(const IPBundle &b)
{
    const QString platform = b.platform();
    if (platform != QLatin1String("all") && platform != QLatin1String("windows"))
        return false;
    switch (b.type()) {
    case 2:
        return b.connection_type() == 1;
    case 1:
    case 4:
    case 5:
    case 6:
        return true;
    default:
        return false;
    }
}

} // namespace

std::shared_ptr<User> User::instance()
{
    static const std::shared_ptr<User> user = std::make_shared<User>();
    return user;
}

QVector<IPBundlePtr> User::usableBundles(const QJsonArray &ipBundle)
{
    QVector<IPBundlePtr> list;
    for (const QJsonValue &element : ipBundle) {
        IPBundlePtr bundle = IPBundle::fromJson(element.toObject());
        if (isUsable(*bundle))
            list.append(bundle);
    }
    return list;
}

QDate User::parseValidityDate(const QString &text)
{
    // The service writes English month names whatever the user's locale is.
    const QLocale c = QLocale::c();
    QDate date = c.toDate(text, QStringLiteral("dd-MMM-yyyy"));
    if (!date.isValid())
        date = c.toDate(text, QStringLiteral("d-MMM-yyyy"));
    return date;
}

void User::fromLoginResponse(const QJsonObject &o)
{
    using namespace JsonRead;
    m_user_type = number(o, QStringLiteral("user_type"));
    m_expire_in_days = number(o, QStringLiteral("expire_in_days"));
    m_validity_date = parseValidityDate(text(o, QStringLiteral("validity_date")));
    m_is_loyal_user = number(o, QStringLiteral("is_loyal_user"));
    m_user_status = numberInText(o, QStringLiteral("user_status"));
    m_server_ip = text(o, QStringLiteral("server_ip"));
    m_server_ip_du = text(o, QStringLiteral("server_ip_du"));
    m_contact_email = text(o, QStringLiteral("contact_email"));
    m_free_minutes = numberInText(o, QStringLiteral("free_minutes"));
    m_show_banner = number(o, QStringLiteral("show_banner"));
    m_show_full_screen = number(o, QStringLiteral("show_full_screen"));

    const QJsonObject payment = o.value(QStringLiteral("in_app_payment_page_data")).toObject();
    const QJsonObject features = payment.value(QStringLiteral("features_img_block")).toObject();
    m_featuresImageUrl = text(features, QStringLiteral("img_url"));
    m_featuresLink = text(features, QStringLiteral("href_com"));
    m_cardPaymentPackages = payment.value(QStringLiteral("card_payment_packages")).toArray();
    m_webPaymentPortalUrl = text(payment, QStringLiteral("web_payment_portal_url"));

    const QJsonObject banners = o.value(QStringLiteral("banner_data")).toObject();
    setSliderImages(banners.value(QStringLiteral("slider_images")).toArray());

    m_bundles = usableBundles(o.value(QStringLiteral("ip_bundle")).toArray());
}

IPBundlePtr User::activeBundle() const
{
    if (m_bundles.isEmpty())
        return nullptr;
    const int id = Config::instance()->activeServer();
    IPBundlePtr result = m_bundles.first();
    for (const IPBundlePtr &bundle : m_bundles) {
        if (bundle->ip_id() == id)
            result = bundle;
    }
    return result;
}

QString User::typeText() const
{
    if (m_is_loyal_user != 0)
        return tr("Loyal Premium");
    switch (m_user_type) {
    case 1:
        return tr("Scratch Card");
    case 2:
        return tr("Premium");
    default:
        return tr("Free");
    }
}

void User::setSliderImages(const QJsonArray &value)
{
    QVector<QJsonObject> images;
    for (const QJsonValue &element : value) {
        if (element.isObject())
            images.append(element.toObject());
    }
    // Stable, so pictures of equal priority keep the service's order however many there are.
    const QString key = QStringLiteral("priority_slider_img_priority");
    std::stable_sort(images.begin(), images.end(), [&key](const QJsonObject &a, const QJsonObject &b) {
        return JsonRead::number(a, key) < JsonRead::number(b, key);
    });
    QJsonArray sorted;
    for (const QJsonObject &image : images)
        sorted.append(image);
    m_sliderImages = sorted;
}

void User::setUser_type(int value)
{
    m_user_type = value;
}
void User::setExpire_in_days(int value)
{
    m_expire_in_days = value;
}
void User::setValidity_date(const QDate &value)
{
    m_validity_date = value;
}
void User::setIs_loyal_user(int value)
{
    m_is_loyal_user = value;
}
void User::setUser_status(int value)
{
    m_user_status = value;
}
void User::setServer_ip(const QString &value)
{
    m_server_ip = value;
}
void User::setServer_ip_du(const QString &value)
{
    m_server_ip_du = value;
}
void User::setContact_email(const QString &value)
{
    m_contact_email = value;
}
void User::setFree_minutes(int value)
{
    m_free_minutes = value;
}
void User::setShow_banner(int value)
{
    m_show_banner = value;
}
void User::setShow_full_screen(int value)
{
    m_show_full_screen = value;
}
void User::setFeaturesImageUrl(const QString &value)
{
    m_featuresImageUrl = value;
}
void User::setFeaturesLink(const QString &value)
{
    m_featuresLink = value;
}
void User::setCardPaymentPackages(const QJsonArray &value)
{
    m_cardPaymentPackages = value;
}
void User::setWebPaymentPortalUrl(const QString &value)
{
    m_webPaymentPortalUrl = value;
}
void User::setBundles(const QVector<IPBundlePtr> &value)
{
    m_bundles = value;
}
void User::setDevices(const QJsonArray &value)
{
    m_devices = value;
}
void User::setReferInfo(const QJsonObject &value)
{
    m_referInfo = value;
}
void User::setPurchaseHistory(const QJsonArray &value)
{
    m_purchaseHistory = value;
}
void User::setReferralCode(const QString &value)
{
    m_referralCode = value;
}

} // namespace Tavrix
