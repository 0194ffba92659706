#include "accountstore.h"

namespace Tavrix {
namespace Dev {

namespace {

QString keyOf(const QString &email)
{
    return email.trimmed().toLower();
}

QJsonObject device(const char *os, const char *model, const char *brand, const char *osVersion, const char *appVersion)
{
    return QJsonObject{{QStringLiteral("os_name"), QLatin1String(os)},
                       {QStringLiteral("model"), QLatin1String(model)},
                       {QStringLiteral("brand"), QLatin1String(brand)},
                       {QStringLiteral("os_version"), QLatin1String(osVersion)},
                       {QStringLiteral("vpn_app_version"), QLatin1String(appVersion)}};
}

const QMap<QString, int> &vouchers()
{
    static const QMap<QString, int> codes = {
        {QStringLiteral("TAVRIX-30DAYS"), 30},
        {QStringLiteral("TAVRIX-1YEAR"), 365},
        {QStringLiteral("TAVRIX-USED"), 30}, // marked as used at start
    };
    return codes;
}

} // namespace

AccountStore::AccountStore()
{
    seed();
}

void AccountStore::seed()
{
    m_accounts.clear();
    m_devices.clear();
    m_usedVouchers = {QStringLiteral("TAVRIX-USED")};
    m_referralsUsed.clear();
    m_subscribers = {QStringLiteral("premium@tavrixvpn.test")};

    const QList<Account> seeds = {
        {QStringLiteral("free@tavrixvpn.test"), QStringLiteral("freepass1"), Account::Free, QStringLiteral("FREE7Q2K"),
         0, QStringLiteral("free account, premium servers locked")},
        {QStringLiteral("premium@tavrixvpn.test"), QStringLiteral("premiumpass1"), Account::Premium,
         QStringLiteral("PREM4X9T"), 214, QStringLiteral("premium account")},
        {QStringLiteral("loyal@tavrixvpn.test"), QStringLiteral("loyalpass1"), Account::Loyal,
         QStringLiteral("LOYL8M3D"), 365, QStringLiteral("loyalty member, loyalty servers")},
        {QStringLiteral("jose@tavrixvpn.test"), QStringLiteral("contrase\u00f1a1"), Account::ScratchCard,
         QStringLiteral("JOSE5R1W"), 27, QStringLiteral("scratch-card account, non-ASCII password")},
        {QStringLiteral("blocked@tavrixvpn.test"), QStringLiteral("blockedpass1"), Account::Suspended, QString(), 0,
         QStringLiteral("suspended: sign-in answers 403")},
    };
    for (const Account &a : seeds)
        m_accounts.insert(keyOf(a.email), a);
    for (const Account &a : m_extra)
        m_accounts.insert(keyOf(a.email), a);

    const QJsonArray usual = {
        device("android", "Pixel 7", "Google", "14", "5.4.1"),
        device("ios", "iPhone 13", "Apple", "17.2", "5.3.0"),
        device("windows", "XPS 13 9310", "Dell Inc.", "11", "5.6.0"),
        // A Linux machine reports its distribution's id, as this client does.
        device("ubuntu", "ThinkPad X1 Carbon Gen 11", "LENOVO", "24.04", "5.6.0"),
    };
    for (auto it = m_accounts.cbegin(); it != m_accounts.cend(); ++it) {
        if (it->kind == Account::Premium || it->kind == Account::Loyal)
            m_devices.insert(it.key(), usual);
    }
    m_devices[keyOf(QStringLiteral("loyal@tavrixvpn.test"))].append(device("huawei", "", "HUAWEI", "12", "5.2.7"));
}

void AccountStore::addPremium(const QString &email, const QString &password, const QString &note)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Account a{email, password, Account::Premium, QStringLiteral("OCSV1T3N"), 90, note};
    m_extra.append(a);
    m_accounts.insert(keyOf(email), a);
}

QList<Account> AccountStore::demoAccounts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accounts.values();
}

bool AccountStore::find(const QString &email, Account *out) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_accounts.constFind(keyOf(email));
    if (it == m_accounts.cend())
        return false;
    if (out)
        *out = *it;
    return true;
}

bool AccountStore::authenticate(const QString &email, const QString &password, Account *out) const
{
    Account a;
    if (!find(email, &a) || a.password != password)
        return false;
    if (out)
        *out = a;
    return true;
}

bool AccountStore::signUp(const QString &email, const QString &password)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const QString key = keyOf(email);
    if (m_accounts.contains(key))
        return false;
    Account a;
    a.email = email.trimmed();
    a.password = password;
    a.kind = Account::Free;
    a.referralCode = QStringLiteral("NEW%1").arg(m_accounts.size() * 7919 % 100000, 5, 10, QLatin1Char('0'));
    // Usable at once; the e-mail link only confirms the address.
    a.note = QStringLiteral("signed up");
    m_accounts.insert(key, a);
    return true;
}

void AccountStore::rememberDevice(const QString &email, const QJsonObject &entry)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QJsonArray &list = m_devices[keyOf(email)];
    const QString udid = entry.value(QStringLiteral("udid")).toString();
    for (int i = 0; i < list.size(); ++i) {
        if (!udid.isEmpty() && list.at(i).toObject().value(QStringLiteral("udid")).toString() == udid) {
            list.replace(i, entry);
            return;
        }
    }
    list.append(entry);
}

QJsonArray AccountStore::devices(const QString &email) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices.value(keyOf(email));
}

AccountStore::Redeem AccountStore::redeemVoucher(const QString &email, const QString &code, int *days)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const QString c = code.trimmed().toUpper();
    if (!vouchers().contains(c))
        return Redeem::Unknown;
    if (m_usedVouchers.contains(c))
        return Redeem::Used;
    m_usedVouchers.insert(c);
    if (days)
        *days = vouchers().value(c);
    auto it = m_accounts.find(keyOf(email));
    if (it != m_accounts.end()) {
        if (it->kind == Account::Free)
            it->kind = Account::ScratchCard;
        it->expireInDays += vouchers().value(c);
    }
    return Redeem::Done;
}

AccountStore::Refer AccountStore::redeemReferral(const QString &email, const QString &code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const QString c = code.trimmed().toUpper();
    const QString me = keyOf(email);
    for (auto it = m_accounts.cbegin(); it != m_accounts.cend(); ++it) {
        if (it->referralCode.isEmpty() || it->referralCode != c)
            continue;
        if (it.key() == me)
            return Refer::Own;
        if (m_referralsUsed.contains(me))
            return Refer::Used;
        m_referralsUsed.insert(me);
        return Refer::Done;
    }
    return Refer::Unknown;
}

bool AccountStore::subscribeNewsletter(const QString &email)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const QString key = keyOf(email);
    if (m_subscribers.contains(key))
        return false;
    m_subscribers.insert(key);
    return true;
}

void AccountStore::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    seed();
}

} // namespace Dev
} // namespace Tavrix
