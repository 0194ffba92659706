#include "api/apirequest.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include "api/apimanager.h"
#include "common/config.h"
#include "common/crypto.h"
#include "common/user.h"
#include "platform/deviceinfo.h"

namespace Tavrix {

namespace {

const QString kLine = QStringLiteral("========================================");

// What the log may say about an account reply: its code, message length and the sizes of its
// members, never their content.
QString replySummary(const QString &plain)
{
    const QJsonDocument document = QJsonDocument::fromJson(plain.toUtf8());
    if (!document.isObject())
        return QStringLiteral("not a JSON object (%1 characters)").arg(plain.size());
    const QJsonObject object = document.object();
    QStringList parts{QStringLiteral("response_code %1").arg(object.value(QStringLiteral("response_code")).toInt())};
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.key() == QLatin1String("response_code") || it.key().size() > 40)
            continue;
        if (it->isArray())
            parts << QStringLiteral("%1: %2 entries").arg(it.key()).arg(it->toArray().size());
        else if (it->isObject())
            parts << QStringLiteral("%1: %2 members").arg(it.key()).arg(it->toObject().size());
        else
            parts << it.key();
    }
    return parts.join(QStringLiteral(", "));
}
const QString kNoInternet = QStringLiteral("No internet Connection, Please check your internet connection.");
const QString kInvalidFormat = QStringLiteral("Invalid server response format");
const QString kNoConfig = QStringLiteral("Failed to fetch the default config.");
constexpr int kConfigWaitMs = 5000;

QString userDefault(const char *key)
{
    return Config::userDefault(QLatin1String(key));
}

QJsonObject plainObject(const QByteArray &body, bool *isObject = nullptr)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (isObject)
        *isObject = document.isObject();
    return document.object();
}

// A refusal (403, 422) carries its reason as plain JSON, never protected.
void takeRefusalMessage(const QByteArray &body, QString *message)
{
    bool isObject = false;
    const QJsonObject object = plainObject(body, &isObject);
    if (isObject)
        *message = object.value(QStringLiteral("message")).toString();
}

void queue(APIManager *manager, const char *method)
{
    QMetaObject::invokeMethod(manager, method, Qt::QueuedConnection);
}

} // namespace

const QString ApiRequest::responseKey = QStringLiteral("Hyxp3(lte");

// One row of the account-operation table: where it posts, what it sends, how it reads the
// answer and which result each outcome gives.
struct ApiRequest::Operation
{
    const char *urlKey;
    const char *label;   // logged before the address; nullptr: nothing logged
    bool decoded;        // protected answer (response key) or plain JSON
    const char *dataLog; // application-log pattern for the decoded text, or nullptr
    int refused;         // 200 with response_code 2 or more
    // 200 whose text is not a JSON object. Only the plain-text voucher answer counts as
    // success; for the protected answers it means the reply was not the service's.
    int notJson;
    enum { InvalidFormat, BodyAsMessage, SimplifiedBodyAsMessage } notJsonMessage;
    int forbidden;  // 403 / 422
    int noNetwork;  // -2
    int invalidUrl; // -1
    int other;      // any other status
    const char *invalidUrlLog;
    const char *statusLog;                    // debug line followed by the status, or nullptr
    const char *decodedDebug;                 // debug line followed by the decoded answer, or nullptr
    void (*store)(const QJsonObject &answer); // on success, or nullptr
};

std::shared_ptr<ApiRequest> ApiRequest::instance()
{
    static const std::shared_ptr<ApiRequest> shared = [] {
        auto request = std::make_shared<ApiRequest>();
        // The sign-in page may make the first call from a pool thread; queued work and the
        // refresh timer need a thread that keeps running an event loop.
        QCoreApplication *app = QCoreApplication::instance();
        if (app && QThread::currentThread() != app->thread())
            request->moveToThread(app->thread());
        return request;
    }();
    return shared;
}

ApiRequest::ApiRequest(QObject *parent)
    : BaseHttpRequest(parent)
    , m_apiManager(new APIManager(this))
{
}

ApiRequest::~ApiRequest() = default;

QString ApiRequest::deviceId()
{
    QString hardwareAddress;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    if (!interfaces.isEmpty())
        hardwareAddress = interfaces.first().hardwareAddress();
    const QString text = QStringLiteral("%1-%2").arg(DeviceInfo::machineId(), hardwareAddress);
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString ApiRequest::utcOffsetText(int offsetSeconds)
{
    const int minutes = qAbs(offsetSeconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(offsetSeconds >= 0 ? QLatin1Char('+') : QLatin1Char('-'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray ApiRequest::formBody(const QStringList &namesAndValues) const
{
    // Every byte but the unreserved ones is percent-encoded. A query builder would leave "+"
    // (a space in a form body) and read "%41" in a value as an already encoded "A": either
    // way a password or the "+06:00" time zone would arrive altered.
    QByteArray body;
    for (int i = 0; i + 1 < namesAndValues.size(); i += 2) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(namesAndValues.at(i)) + '=' + QUrl::toPercentEncoding(namesAndValues.at(i + 1));
    }
    return body;
}

QStringList ApiRequest::credentials(const char *passwordName) const
{
    // The same account the sign-in pages handed to the connection controller.
    const std::shared_ptr<Config> config = Config::instance();
    return {QStringLiteral("username"), config->userName(),     QLatin1String(passwordName),
            config->password(),         QStringLiteral("udid"), DeviceInfo::machineId()};
}

QString ApiRequest::loginUrl()
{
    QString url = userDefault("LoginURL");
    if (url.isEmpty()) {
        qWarning().noquote() << "❌ Login URL not found in settings, fetching config...";
        appLog(QStringLiteral("Login URL not found in settings"));

        bool updated = false;
        bool ended = false;
        QEventLoop loop;
        const auto onUpdated = connect(m_apiManager, &APIManager::configUpdated, &loop, [&] {
            updated = ended = true;
            loop.quit();
        });
        const auto onFailed = connect(m_apiManager, &APIManager::configUpdateFailed, &loop, [&] {
            ended = true;
            loop.quit();
        });
        m_apiManager->fetchAllDefaultConfig();
        // A fetch that another window started is running: wait a little for it to end. Its
        // signals come from another object, so watch the process-wide flag as well.
        if (!ended) {
            QTimer poll;
            connect(&poll, &QTimer::timeout, &loop, [&] {
                if (!APIManager::isFetchInProgress())
                    loop.quit();
            });
            poll.start(100);
            QTimer::singleShot(kConfigWaitMs, &loop, &QEventLoop::quit);
            loop.exec();
        }
        disconnect(onUpdated);
        disconnect(onFailed);
        // The other fetch may have stored the address without telling this object.
        url = userDefault("LoginURL");
        if (updated && !url.isEmpty())
            qDebug().noquote() << "✅ Got Login URL after config fetch";
    }
    if (url.isEmpty()) {
        qCritical().noquote() << "❌ Could not get login URL";
        appLog(QStringLiteral("CRITICAL: No login URL available"));
    }
    return url;
}

int ApiRequest::login(const QString &user, const QString &password)
{
    qDebug().noquote() << kLine;
    qDebug().noquote() << "🔐 Login attempt started...";
    qDebug().noquote() << kLine;

    QString url = loginUrl();
    qDebug().noquote() << "login url:::" << url;
    if (url.isEmpty()) {
        qWarning().noquote() << "❌ Cannot login: Login URL is not available";
        m_errorMessage = QStringLiteral("Configuration is being loaded. Please try again in a moment.");
        m_apiManager->fetchAllDefaultConfig();
        url = loginUrl();
        if (url.isEmpty()) {
            qWarning().noquote() << "❌ Login URL still not available after config fetch";
            return LoginNoUrl;
        }
    }

    QString version = Config::appVersion();
    if (version.isEmpty())
        version = QStringLiteral("0.0.0");
    const QString brand = DeviceInfo::computerSystem().manufacturer;
    const QByteArray body = formBody({
        QStringLiteral("username"),      user,
        QStringLiteral("pass"),          password,
        QStringLiteral("udid"),          deviceId(),
        QStringLiteral("vpnAppVersion"), version,
        QStringLiteral("brand"),         brand,
        QStringLiteral("osName"),        QSysInfo::productType(),
        QStringLiteral("osVersion"),     QSysInfo::productVersion(),
        QStringLiteral("bundle"),        brand,
        QStringLiteral("bundle2"),       QStringLiteral("1"),
        QStringLiteral("isRooted"),      QStringLiteral("0"),
        QStringLiteral("device_type"),   QStringLiteral("3"),
        QStringLiteral("app_id"),        QStringLiteral("1"),
        QStringLiteral("player_id"),     QStringLiteral("0"),
    });
    const Response response = post(url, body, requestHeaders());

    int code = LoginNoResponse;
    QString message;
    QJsonDocument document;
    switch (response.status) {
    case 200: {
        bool parseError = false;
        document = decodeResponse(response.body, responseKey, &parseError);
        if (parseError || document.isEmpty() || !document.isObject()) {
            message = kInvalidFormat;
            qDebug().noquote() << "⚠️ Invalid login response, fetching new config...";
            queue(m_apiManager, "fetchAllDefaultConfig");
            appLog(QStringLiteral("Failed to parse login response"));
        } else {
            const QJsonObject object = document.object();
            code = object.value(QStringLiteral("response_code")).toInt();
            message = object.value(QStringLiteral("message")).toString();
            if (code > 1)
                appLog(QStringLiteral("Login API error: %1").arg(message));
        }
        break;
    }
    case 403:
    case 422: {
        bool isObject = false;
        const QJsonObject object = plainObject(response.body, &isObject);
        message =
            isObject ? object.value(QStringLiteral("message")).toString() : QStringLiteral("Authentication failed");
        appLog(QStringLiteral("Login failed: %1").arg(message));
        code = LoginRejected;
        break;
    }
    case NetworkError:
        message = QStringLiteral("No internet connection");
        appLog(QStringLiteral("Network error during login"));
        break;
    case InvalidUrl:
        message = QStringLiteral("Invalid login URL, updating configuration...");
        qDebug().noquote() << "⚠️ Invalid URL detected, switching config...";
        queue(m_apiManager, "switchConfig");
        appLog(QStringLiteral("Invalid login URL - switching config"));
        break;
    default:
        message = QStringLiteral("Unknown error occurred");
        appLog(QStringLiteral("Unknown login error (code %1)").arg(response.status));
        break;
    }

    if (response.status == 200 && code != LoginNoResponse && code < 2) {
        Config::setJsonData(QString::fromUtf8(document.toJson(QJsonDocument::Compact)));
        Config::setUserLoggedInAt(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        User::instance()->fromLoginResponse(document.object());
        qDebug().noquote() << "✅ Login successful";
    } else {
        qWarning().noquote() << "❌ Login failed with response code:" << code;
    }

    m_errorMessage = message;
    qDebug().noquote() << kLine + QLatin1Char('\n');
    return code;
}

int ApiRequest::signUp(const QString &user, const QString &password, const QString &receivePromotion,
                       const QString &subscriptionCode)
{
    const QString url = userDefault("SignUpURL");
    const QByteArray body = formBody({
        QStringLiteral("username"),
        user,
        QStringLiteral("password"),
        password,
        QStringLiteral("should_receive_promotion"),
        receivePromotion,
        QStringLiteral("timezone"),
        utcOffsetText(QDateTime::currentDateTime().offsetFromUtc()),
        QStringLiteral("subscription_code"),
        subscriptionCode,
    });
    const Response response = post(url, body, Headers());

    switch (response.status) {
    case 200: {
        bool isObject = false;
        const QJsonObject object = plainObject(response.body, &isObject);
        // An answer that is no JSON object (a captive portal, a broken proxy) did not
        // create the account as far as anyone can tell.
        if (!isObject) {
            m_errorMessage = kInvalidFormat;
            return SignUpFailed;
        }
        m_errorMessage = object.value(QStringLiteral("message")).toString();
        return object.value(QStringLiteral("response_code")).toInt() > 1 ? SignUpRefused : SignUpSuccess;
    }
    case 403:
    case 422:
        takeRefusalMessage(response.body, &m_errorMessage);
        return SignUpRefused;
    case NetworkError:
        appLog(tr("Network request error"));
        m_errorMessage = kNoInternet;
        return SignUpNoNetwork;
    case InvalidUrl:
        appLog(tr("Invalid Signup URL"));
        m_errorMessage = kNoConfig;
        m_apiManager->switchConfig();
        return SignUpFailed;
    default:
        return SignUpFailed;
    }
}

int ApiRequest::forgotPassword(const QString &email)
{
    if (!APIManager::isValidEmail(email)) {
        m_errorMessage = QStringLiteral("*Wrong email, Please submit correct email");
        return ForgotPasswordRefused;
    }
    const QString url = userDefault("ForgotPasswordURL");
    qDebug().noquote() << "forget url:::" << url;
    Headers headers;
    headers.insert(QStringLiteral("username"), email);
    const Response response = post(url, formBody({QStringLiteral("username"), email}), headers);

    bool isObject = false;
    switch (response.status) {
    case 200: {
        const QJsonObject object = plainObject(response.body, &isObject);
        if (!isObject) {
            m_errorMessage = QStringLiteral("Email not found");
            return ForgotPasswordRefused;
        }
        m_errorMessage = object.value(QStringLiteral("message")).toString();
        return object.value(QStringLiteral("response_code")).toInt() < 2 ? ForgotPasswordSuccess
                                                                         : ForgotPasswordRefused;
    }
    case 401:
    case 422: {
        const QJsonObject object = plainObject(response.body, &isObject);
        m_errorMessage =
            isObject ? object.value(QStringLiteral("message")).toString() : QStringLiteral("User Not Found!");
        return ForgotPasswordRefused;
    }
    case 403:
        takeRefusalMessage(response.body, &m_errorMessage);
        return ForgotPasswordRefused;
    case NetworkError:
        appLog(tr("Network request error"));
        m_errorMessage = kNoInternet;
        return ForgotPasswordFailed;
    case InvalidUrl:
        appLog(tr("Invalid Forgot password URL"));
        m_errorMessage = kNoConfig;
        return ForgotPasswordFailed;
    default:
        return ForgotPasswordFailed;
    }
}

int ApiRequest::runOperation(const Operation &operation, const QStringList &parameters, const Headers &headers)
{
    const QString url = userDefault(operation.urlKey);
    if (operation.label)
        qDebug().noquote() << operation.label << url;
    const Response response = post(url, formBody(parameters), headers);
    if (operation.statusLog)
        qDebug().noquote() << operation.statusLog << response.status;

    switch (response.status) {
    case 200: {
        QJsonDocument document;
        if (operation.decoded) {
            const QString plain = decodeText(response.body, responseKey);
            // The answer holds the account's personal data (findings, purchases, devices, codes):
            // the log gets its outline only.
            if (operation.decodedDebug)
                qDebug().noquote() << operation.decodedDebug << replySummary(plain);
            if (operation.dataLog)
                appLog(QString::fromLatin1(operation.dataLog).arg(replySummary(plain)));
            document = QJsonDocument::fromJson(plain.toUtf8());
        } else {
            document = QJsonDocument::fromJson(response.body);
        }
        if (!document.isObject()) {
            if (operation.notJsonMessage == Operation::BodyAsMessage)
                m_errorMessage = QString::fromUtf8(response.body);
            else if (operation.notJsonMessage == Operation::SimplifiedBodyAsMessage)
                m_errorMessage = QString::fromUtf8(response.body).simplified();
            else
                m_errorMessage = kInvalidFormat;
            return operation.notJson;
        }
        const QJsonObject answer = document.object();
        m_errorMessage = answer.value(QStringLiteral("message")).toString();
        if (answer.value(QStringLiteral("response_code")).toInt() >= 2)
            return operation.refused;
        if (operation.store)
            operation.store(answer);
        return OperationSuccess;
    }
    case 403:
    case 422:
        takeRefusalMessage(response.body, &m_errorMessage);
        return operation.forbidden;
    case NetworkError:
        appLog(tr("Network request error"));
        m_errorMessage = kNoInternet;
        return operation.noNetwork;
    case InvalidUrl:
        appLog(tr(operation.invalidUrlLog));
        m_errorMessage = kNoConfig;
        return operation.invalidUrl;
    default:
        return operation.other;
    }
}

int ApiRequest::subscribe(const QString &email)
{
    if (email.isEmpty() || !APIManager::isValidEmail(email)) {
        m_errorMessage = QStringLiteral("Type  Email to Get Updates!");
        return 1;
    }
    static const Operation operation = {"emailSubsUrl",
                                        "email sub url:::",
                                        false,
                                        nullptr,
                                        4,
                                        4,
                                        Operation::SimplifiedBodyAsMessage,
                                        4,
                                        3,
                                        2,
                                        4,
                                        "Invalid Subscribe URL",
                                        "subscribe response code::",
                                        nullptr,
                                        nullptr};
    Headers headers;
    headers.insert(QStringLiteral("email"), email);
    return runOperation(operation, {QStringLiteral("email"), email}, headers);
}

int ApiRequest::redeemVoucher(const QString &code)
{
    if (code.isEmpty()) {
        m_errorMessage = QStringLiteral("Empty Subscription Code!");
        return 1;
    }
    static const Operation operation = {"redeemVoucherURL",
                                        "readeemvoucher  url:::",
                                        false,
                                        nullptr,
                                        4,
                                        0,
                                        Operation::BodyAsMessage,
                                        4,
                                        3,
                                        2,
                                        4,
                                        "Invalid Subscribe URL",
                                        "subscribe response code::",
                                        nullptr,
                                        nullptr};
    return runOperation(operation,
                        credentials("password") + QStringList{QStringLiteral("subscription_code"), code,
                                                              QStringLiteral("noEncrypted"), QStringLiteral("1")},
                        Headers());
}

int ApiRequest::loggedDevices()
{
    static const Operation operation = {"loggedDevice",
                                        "device url::::::::::::::::::",
                                        true,
                                        nullptr,
                                        4,
                                        4,
                                        Operation::InvalidFormat,
                                        4,
                                        3,
                                        1,
                                        4,
                                        "Invalid Subscribe URL",
                                        nullptr,
                                        nullptr,
                                        [](const QJsonObject &answer) {
                                            User::instance()->setDevices(
                                                answer.value(QStringLiteral("data")).toArray());
                                        }};
    return runOperation(operation, credentials("pass"), Headers());
}

int ApiRequest::referInfo()
{
    static const Operation operation = {"RererInfoURL",
                                        "url for referInfo:::",
                                        true,
                                        "referInfo Data :  %1",
                                        4,
                                        4,
                                        Operation::InvalidFormat,
                                        4,
                                        3,
                                        1,
                                        4,
                                        "Invalid Subscribe URL",
                                        nullptr,
                                        nullptr,
                                        [](const QJsonObject &answer) { User::instance()->setReferInfo(answer); }};
    return runOperation(operation, credentials("password"), Headers());
}

int ApiRequest::referSubmit(const QString &code)
{
    if (code.isEmpty()) {
        qDebug().noquote() << "refer code is empty";
        m_errorMessage = QStringLiteral("Redeem Code Invalid!");
        return 5;
    }
    static const Operation operation = {"ReferURL",
                                        "refer URl:::",
                                        true,
                                        "referSubmit Data :  %1",
                                        4,
                                        4,
                                        Operation::InvalidFormat,
                                        4,
                                        3,
                                        1,
                                        4,
                                        "Invalid Subscribe URL",
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return runOperation(operation, credentials("password") + QStringList{QStringLiteral("referral_code"), code},
                        Headers());
}

int ApiRequest::darkWebCheck(const QString &email)
{
    if (!APIManager::isValidEmail(email)) {
        m_errorMessage = QStringLiteral("*Email Address not valid!");
        return 4;
    }
    static const Operation operation = {"darkWebURL",
                                        "darweb url:::",
                                        true,
                                        "darkWeb Data :  %1",
                                        3,
                                        3,
                                        Operation::InvalidFormat,
                                        3,
                                        5,
                                        1,
                                        3,
                                        "Invalid Subscribe URL",
                                        "dark web response code::::",
                                        "decryptedResponse",
                                        nullptr};
    return runOperation(operation,
                        credentials("password") + QStringList{QStringLiteral("request_type"), QStringLiteral("1"),
                                                              QStringLiteral("requested_value"), email},
                        Headers());
}

int ApiRequest::purchaseHistory()
{
    static const Operation operation = {"purchaseHistoryURL",
                                        nullptr,
                                        true,
                                        "purchaseHistory Data :  %1",
                                        3,
                                        3,
                                        Operation::InvalidFormat,
                                        3,
                                        5,
                                        1,
                                        3,
                                        "Invalid purchaseHistory URL",
                                        nullptr,
                                        nullptr,
                                        [](const QJsonObject &answer) {
                                            User::instance()->setPurchaseHistory(
                                                answer.value(QStringLiteral("data")).toArray());
                                        }};
    return runOperation(
        operation, credentials("pass") + QStringList{QStringLiteral("noEncrypted"), QStringLiteral("0")}, Headers());
}

QString ApiRequest::wireGuardConfig(int vpnserverId, int ipId, int connectionType)
{
    const QString url = userDefault("wgURL");
    const Response response = post(
        url,
        formBody(credentials("pass") + QStringList{QStringLiteral("vpnserverId"), QString::number(vpnserverId),
                                                   QStringLiteral("ipId"), QString::number(ipId),
                                                   QStringLiteral("connection_type"), QString::number(connectionType)}),
        Headers());
    // Only a 200 carries a configuration. A refusal (403/422 with a JSON message) decoded
    // with the response key is noise that would end up in the tunnel's configuration file.
    if (response.status != 200) {
        qWarning().noquote() << "❌ WireGuard configuration request failed, HTTP code:" << response.status;
        return QString();
    }
    return decode(QString::fromUtf8(response.body), responseKey);
}

QString ApiRequest::publicIp()
{
    const QString url = userDefault("publicIPURL");
    qDebug().noquote() << "🌐 Fetching public IP from:" << url;
    if (url.isEmpty()) {
        qWarning().noquote() << "❌ Public IP URL not configured, fetching config...";
        queue(m_apiManager, "fetchAllDefaultConfig");
        return QString();
    }
    const Response response = get(url);
    qDebug().noquote() << "HTTP response:" << response.body.size() << "bytes";
    if (response.status == 200 && !response.body.isEmpty()) {
        static const QRegularExpression pattern(QStringLiteral("(\\b\\d{1,3}(\\.\\d{1,3}){3}\\b)"));
        const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(response.body));
        if (match.hasMatch()) {
            qDebug().noquote() << "✅ Extracted IP Address:" << match.captured(1);
            return match.captured(1);
        }
        qWarning().noquote() << "❌ Invalid response format. Not an IP.";
        queue(m_apiManager, "fetchAllDefaultConfig");
        return QString();
    }
    qWarning().noquote() << "Failed to fetch IP. HTTP code:" << response.status;
    qDebug().noquote() << "Triggering config refresh...";
    queue(m_apiManager, "fetchAllDefaultConfig");
    return QString();
}

} // namespace Tavrix
