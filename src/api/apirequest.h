#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include "api/basehttprequest.h"

namespace Tavrix {

class APIManager;

// Client of the service's account endpoints. One shared instance; every call blocks in local
// event loops, returns a result code (or a text) and leaves a user-facing text in
// errorMessage(). Endpoint addresses are read from "UserDefaults" at every call.
class ApiRequest : public BaseHttpRequest
{
    Q_OBJECT
public:
    // login(): the server's "response_code" (1 success, 0 also accepted by the server, 2 and
    // up refused) or one of these.
    enum LoginResult {
        // No usable answer: any status but 200, or a 200 whose text does not parse.
        LoginNoResponse = -1,
        // The service refused the sign-in with HTTP 403 or 422 ("Wrong user name or password",
        // a suspended account, credentials it cannot take).
        LoginRejected = -3,
        LoginSuccess = 1,
        // No sign-in address could be had, even after fetching the configuration.
        LoginNoUrl = 9
    };
    // True when login() got an answer from the service that refuses these credentials (a
    // "response_code" of 2 or more, or a 403 / 422 refusal), as opposed to no answer at all.
    static bool isCredentialRefusal(int loginResult)
    {
        return loginResult == LoginRejected || (loginResult >= 2 && loginResult != LoginNoUrl);
    }
    // signUp()
    enum SignUpResult { SignUpSuccess = 0, SignUpFailed = 1, SignUpRefused = 3, SignUpNoNetwork = 4 };
    // forgotPassword()
    enum ForgotPasswordResult { ForgotPasswordSuccess = 0, ForgotPasswordFailed = 1, ForgotPasswordRefused = 3 };
    // The other account operations: 0 is success; the other codes differ per operation
    // (see the operation table in apirequest.cpp).
    static constexpr int OperationSuccess = 0;

    static std::shared_ptr<ApiRequest> instance();

    explicit ApiRequest(QObject *parent = nullptr);
    ~ApiRequest() override;

    QString loginUrl();
    int login(const QString &user, const QString &password);
    int signUp(const QString &user, const QString &password, const QString &receivePromotion,
               const QString &subscriptionCode);
    int forgotPassword(const QString &email);

    int subscribe(const QString &email);
    int redeemVoucher(const QString &code);
    int loggedDevices();
    int referInfo();
    int referSubmit(const QString &code);
    int darkWebCheck(const QString &email);
    int purchaseHistory();

    // Decoded WireGuard configuration text; empty when the service refused or did not answer.
    QString wireGuardConfig(int vpnserverId, int ipId, int connectionType);
    // Public IPv4 address of this machine as the service sees it; empty on failure.
    QString publicIp();

    QString errorMessage() const { return m_errorMessage; }
    // The configuration service of this client (fetches, source switch, e-mail check).
    APIManager *apiManager() const { return m_apiManager; }

    // Sign-in device id: SHA-256 (hex) of "<machine id>-<first interface's hardware address>".
    static QString deviceId();
    // Local offset from UTC as "+hh:mm" / "-hh:mm".
    static QString utcOffsetText(int offsetSeconds);

    static const QString responseKey;

private:
    struct Operation;
    int runOperation(const Operation &operation, const QStringList &parameters, const Headers &headers);
    QByteArray formBody(const QStringList &namesAndValues) const;
    QStringList credentials(const char *passwordName) const;

    QString m_errorMessage;
    APIManager *m_apiManager = nullptr;
};

} // namespace Tavrix
