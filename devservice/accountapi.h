#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace Tavrix {
namespace Dev {

class AccountStore;
class ServerCatalog;

// One account call as the service sees it: the form fields and headers of the request.
struct Call
{
    QString path;
    QMap<QString, QString> form;
    QMap<QString, QString> headers; // names in lower case
    QString origin;                 // https://host:port the caller used
    QString remoteAddress;
};

struct Reply
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
};

// The account endpoints: parameter checks (missing or invalid: 422 with a JSON "message"),
// credentials (403), and the replies, protected with the response key where the service
// protects them.
class AccountApi
{
public:
    AccountApi(AccountStore &accounts, const ServerCatalog &catalog)
        : m_accounts(accounts)
        , m_catalog(catalog)
    {
    }

    Reply login(const Call &call) const;
    Reply signUp(const Call &call) const;
    Reply forgotPassword(const Call &call) const;
    Reply newsletter(const Call &call) const;
    Reply redeemVoucher(const Call &call) const;
    Reply devices(const Call &call) const;
    Reply referInfo(const Call &call) const;
    Reply referSubmit(const Call &call) const;
    Reply darkWeb(const Call &call) const;
    Reply purchaseHistory(const Call &call) const;
    Reply wireGuard(const Call &call) const;
    Reply publicIp(const Call &call) const;

    static bool isEmail(const QString &text);

private:
    AccountStore &m_accounts;
    const ServerCatalog &m_catalog;
};

} // namespace Dev
} // namespace Tavrix
