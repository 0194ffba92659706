#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <mutex>

namespace Tavrix {
namespace Dev {

struct Account
{
    enum Kind { Free, Premium, Loyal, ScratchCard, Suspended };
    QString email;
    QString password; // as typed, UTF-8 on the wire
    Kind kind = Free;
    QString referralCode;
    int expireInDays = 0;
    QString note; // shown in the start-up listing
};

// The accounts of the service, with what the account calls change at run time (devices seen
// at sign-in, vouchers and referral codes used, newsletter addresses). Thread-safe: the
// HTTP server answers on a pool of threads.
class AccountStore
{
public:
    AccountStore();

    // Adds a premium account (used for a real OpenConnect server's credentials).
    void addPremium(const QString &email, const QString &password, const QString &note);

    QList<Account> demoAccounts() const;
    bool find(const QString &email, Account *out) const;
    // The account when e-mail and password match; false otherwise.
    bool authenticate(const QString &email, const QString &password, Account *out) const;

    // false when the address is taken.
    bool signUp(const QString &email, const QString &password);
    void rememberDevice(const QString &email, const QJsonObject &device);
    QJsonArray devices(const QString &email) const;

    enum class Redeem { Done, Used, Unknown };
    Redeem redeemVoucher(const QString &email, const QString &code, int *days);
    enum class Refer { Done, Own, Used, Unknown };
    Refer redeemReferral(const QString &email, const QString &code);
    bool subscribeNewsletter(const QString &email); // false when already subscribed

    // Forgets everything the calls changed, keeping the demo accounts.
    void reset();

private:
    void seed();

    mutable std::mutex m_mutex;
    QMap<QString, Account> m_accounts;   // by lower-case e-mail
    QMap<QString, QJsonArray> m_devices; // by lower-case e-mail
    QSet<QString> m_usedVouchers;
    QSet<QString> m_referralsUsed; // e-mail addresses that redeemed one
    QSet<QString> m_subscribers;
    QList<Account> m_extra; // added from the command line, kept on reset
};

} // namespace Dev
} // namespace Tavrix
