#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include "accountstore.h"

namespace Tavrix {
namespace Dev {

class ServerCatalog;

// The contents of the account replies, built for one account on the service's origin.
class AccountReplies
{
public:
    AccountReplies(const ServerCatalog &catalog, const QString &origin)
        : m_catalog(catalog)
        , m_origin(origin)
    {
    }

    // The whole sign-in document: account, offers, banners and the server list.
    QJsonObject signIn(const Account &account) const;
    QJsonObject referInfo(const Account &account) const;
    QJsonArray purchaseHistory(const Account &account) const;
    // A WireGuard configuration for one server entry (empty when it is not a usable one).
    QString wireGuardConfig(const Account &account, int ipId, const QString &udid) const;

    static int bannerCount();

private:
    QJsonObject paymentPageData() const;
    QJsonObject bannerData() const;

    const ServerCatalog &m_catalog;
    QString m_origin;
};

} // namespace Dev
} // namespace Tavrix
