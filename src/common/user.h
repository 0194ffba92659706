#pragma once

#include <QCoreApplication>
#include <QDate>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <memory>

#include "common/ipbundle.h"

namespace Tavrix {

// The signed-in account: status, payment and banner data, and the servers it may use on
// this platform. Filled by the sign-in reply and the later account calls.
class User
{
    Q_DECLARE_TR_FUNCTIONS(User)

public:
    static std::shared_ptr<User> instance();

    User() = default;

    // Fills the account fields and replaces the server list from the sign-in reply.
    void fromLoginResponse(const QJsonObject &object);

    // The server the user has chosen: the last entry whose ip_id is ActiveServer, else the
    // first entry; null when the list is empty.
    IPBundlePtr activeBundle() const;
    // "Loyal Premium", "Scratch Card", "Premium" or "Free", translated.
    QString typeText() const;

    int user_type() const { return m_user_type; }
    void setUser_type(int value);
    int expire_in_days() const { return m_expire_in_days; }
    void setExpire_in_days(int value);
    QDate validity_date() const { return m_validity_date; }
    void setValidity_date(const QDate &value);
    int is_loyal_user() const { return m_is_loyal_user; }
    void setIs_loyal_user(int value);
    int user_status() const { return m_user_status; }
    void setUser_status(int value);
    QString server_ip() const { return m_server_ip; }
    void setServer_ip(const QString &value);
    QString server_ip_du() const { return m_server_ip_du; }
    void setServer_ip_du(const QString &value);
    QString contact_email() const { return m_contact_email; }
    void setContact_email(const QString &value);
    int free_minutes() const { return m_free_minutes; }
    void setFree_minutes(int value);
    int show_banner() const { return m_show_banner; }
    void setShow_banner(int value);
    int show_full_screen() const { return m_show_full_screen; }
    void setShow_full_screen(int value);
    QString featuresImageUrl() const { return m_featuresImageUrl; }
    void setFeaturesImageUrl(const QString &value);
    QString featuresLink() const { return m_featuresLink; }
    void setFeaturesLink(const QString &value);
    QJsonArray cardPaymentPackages() const { return m_cardPaymentPackages; }
    void setCardPaymentPackages(const QJsonArray &value);
    QString webPaymentPortalUrl() const { return m_webPaymentPortalUrl; }
    void setWebPaymentPortalUrl(const QString &value);
    // Banner pictures, ordered by "priority_slider_img_priority".
    QJsonArray sliderImages() const { return m_sliderImages; }
    // Keeps the object elements only and orders them as the banner slider shows them.
    void setSliderImages(const QJsonArray &value);
    // A copy of the list: the records themselves are shared.
    QVector<IPBundlePtr> bundles() const { return m_bundles; }
    void setBundles(const QVector<IPBundlePtr> &value);

    QJsonArray devices() const { return m_devices; }
    void setDevices(const QJsonArray &value);
    QJsonObject referInfo() const { return m_referInfo; }
    void setReferInfo(const QJsonObject &value);
    QJsonArray purchaseHistory() const { return m_purchaseHistory; }
    void setPurchaseHistory(const QJsonArray &value);
    QString referralCode() const { return m_referralCode; }
    void setReferralCode(const QString &value);

    // The servers of "ip_bundle" this client can use: platform "all" or "windows", and a
    // type it has an engine for. Array order is kept.
    static QVector<IPBundlePtr> usableBundles(const QJsonArray &ipBundle);
    // "dd-MMM-yyyy", else "d-MMM-yyyy"; invalid when neither fits.
    static QDate parseValidityDate(const QString &text);

private:
    int m_user_type = 0;
    int m_expire_in_days = 0;
    QDate m_validity_date;
    int m_is_loyal_user = 0;
    int m_user_status = 0;
    QString m_server_ip;
    QString m_server_ip_du;
    QString m_contact_email;
    int m_free_minutes = 0;
    int m_show_banner = 0;
    int m_show_full_screen = 0;
    QString m_featuresImageUrl;
    QString m_featuresLink;
    QJsonArray m_cardPaymentPackages;
    QString m_webPaymentPortalUrl;
    QJsonArray m_sliderImages;
    QVector<IPBundlePtr> m_bundles;
    QJsonArray m_devices;
    QJsonObject m_referInfo;
    QJsonArray m_purchaseHistory;
    QString m_referralCode;
};

} // namespace Tavrix
