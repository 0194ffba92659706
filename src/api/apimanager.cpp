#include "api/apimanager.h"

#include <QDebug>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslSocket>
#include <QThread>
#include <QTimeZone>
#include <QTimer>

#include <atomic>
#include <exception>
#include <memory>

#include "api/endpointdocuments.h"
#include "api/timezonecountries.h"
#include "common/config.h"
#include "common/crypto.h"
#include "common/serviceurl.h"

namespace Tavrix {

namespace {

const QString kLine = QStringLiteral("========================================");

std::atomic<bool> &fetchFlag()
{
    static std::atomic<bool> flag(false);
    return flag;
}

QString availability(const APIManager::ConfigSource &source, bool withMark)
{
    if (withMark)
        return source.available ? QStringLiteral("✅ Available") : QStringLiteral("❌ Unavailable");
    return source.available ? QStringLiteral("Available") : QStringLiteral("Unavailable");
}

bool isRetryable(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return true;
    default:
        return false;
    }
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

QString userDefault(const char *key, const QString &fallback = QString())
{
    return Config::userDefault(QLatin1String(key), fallback);
}

} // namespace

bool APIManager::isFetchInProgress()
{
    return fetchFlag().load();
}

APIManager::APIManager(QObject *parent)
    : QObject(parent)
    , m_accountKey(QStringLiteral("Rk(Vbnwqeo"))
    , m_responseKey(QStringLiteral("Hyxp3(lte"))
    , m_networkManager(new QNetworkAccessManager(this))
    , m_refreshTimer(new QTimer(this))
{
    qDebug().noquote() << kLine;
    qDebug().noquote() << "🚀 APIManager Initialization";
    qDebug().noquote() << kLine;

    ServiceUrl::trustServiceCertificate();
    buildTimeZoneMap();
    logSslSupport();

    m_refreshTimer->setInterval(RefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &APIManager::fetchAllDefaultConfig);
    m_refreshTimer->start();
    qDebug().noquote() << "⏰ Auto-refresh enabled: every" << RefreshIntervalMs / 3600000 << "hours";
    qDebug().noquote() << kLine + QLatin1Char('\n');
}

APIManager::~APIManager()
{
    qDebug().noquote() << "🛑 APIManager shutting down...";
    m_refreshTimer->stop();
}

void APIManager::buildTimeZoneMap()
{
    for (const TimeZoneCountry &entry : timeZoneCountries())
        m_timeZoneMap.insert(QString::fromLatin1(entry.zone), QString::fromLatin1(entry.country));
    qDebug().noquote() << "✅ Timezone mapping initialized:" << m_timeZoneMap.size() << "zones";
}

void APIManager::logSslSupport() const
{
    const bool supported = QSslSocket::supportsSsl();
    qDebug().noquote() << "\n=== SSL Configuration ===";
    qDebug().noquote() << "SSL Support:" << (supported ? "true" : "false");
    if (supported) {
        qDebug().noquote() << "SSL Build Version:" << QSslSocket::sslLibraryBuildVersionString();
        qDebug().noquote() << "SSL Runtime Version:" << QSslSocket::sslLibraryVersionString();
        qDebug().noquote() << "✅ SSL is available";
    } else {
        qCritical().noquote() << "❌ WARNING: SSL is NOT supported!";
        qCritical().noquote() << "   HTTPS requests will fail.";
        qCritical().noquote() << "   Please install OpenSSL libraries.";
    }
    qDebug().noquote() << "========================\n";
}

QVector<QUrl> APIManager::sourceUrls()
{
    const QString firestore =
        QString::fromLatin1(ServiceUrl::firestoreOrigin) +
        QStringLiteral("/v1/projects/%1/databases/(default)/documents/global/%2")
            .arg(QLatin1String(ServiceUrl::firestoreProjectId), QLatin1String(ServiceUrl::firestoreDocumentId));
    const QStringList addresses = {
        firestore,
        QLatin1String(ServiceUrl::proxyOrigin) + QStringLiteral("/apis/getfirebasedata.php"),
        QLatin1String(ServiceUrl::directOrigin) + QStringLiteral("/apis/getDomainData.php"),
        firestore + QStringLiteral("/apis/"),
        QLatin1String(ServiceUrl::countryLoginOrigin) + QStringLiteral("/api/getCountryWiseLoginData.php"),
        QLatin1String(ServiceUrl::directCommOrigin) + QStringLiteral("/api/getCountryWiseLoginDataForDirectComm.php"),
    };
    QVector<QUrl> urls;
    for (const QString &address : addresses)
        urls.append(ServiceUrl::address(QUrl(address)));
    return urls;
}

bool APIManager::isValidEmail(const QString &text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("\\b[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,}\\b")),
        QRegularExpression::CaseInsensitiveOption);
    return pattern.match(text).hasMatch();
}

APIManager::RequestResult APIManager::performGetRequestWithRetry(const QUrl &url, int attempt)
{
    const QString urlText = url.toString();
    for (;;) {
        qDebug().noquote() << "🔄 Request attempt" << attempt + 1 << "/" << MaxAttempts << "for:" << urlText;

        RequestResult result;
        result.url = urlText;
        if (url.isEmpty() || !url.isValid() || url.isRelative()) {
            qWarning().noquote() << "❌ Invalid URL:" << urlText;
            result.httpCode = -1;
            result.error = QStringLiteral("Invalid URL");
            return result;
        }

        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("TavrixVPN/1.0"));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);

        // The account API may call us from a worker thread; a manager only serves its own.
        std::unique_ptr<QNetworkAccessManager> localManager;
        QNetworkAccessManager *manager = m_networkManager;
        if (QThread::currentThread() != m_networkManager->thread()) {
            localManager = std::make_unique<QNetworkAccessManager>();
            manager = localManager.get();
        }
        QNetworkReply *reply = manager->get(request);
        // Reported, never ignored: a development service is trusted through its CA instead.
        connect(reply, &QNetworkReply::sslErrors, reply, [urlText](const QList<QSslError> &errors) {
            for (const QSslError &error : errors)
                qWarning().noquote() << "⚠️ SSL Error for" << urlText << ":" << error.errorString();
        });

        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QEventLoop loop;
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        connect(&timer, &QTimer::timeout, &loop, [&] {
            qWarning().noquote() << "⏱️  Request timeout for:" << urlText;
            reply->abort();
            loop.quit();
        });
        timer.start(AttemptTimeoutMs);
        if (!reply->isFinished())
            loop.exec();
        timer.stop();

        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (reply->error() != QNetworkReply::NoError) {
            result.error = reply->errorString();
            qWarning().noquote() << "❌ Network error for" << urlText << ":" << result.error;
            result.httpCode = status.isValid() ? status.toInt() : -2;
            const bool retry = attempt < MaxAttempts - 1 && isRetryable(reply->error());
            delete reply;
            if (retry) {
                qDebug().noquote() << "🔄 Retrying in" << RetryDelayMs << "ms...";
                wait(RetryDelayMs);
                ++attempt;
                continue;
            }
            qWarning().noquote() << "❌ Failed after" << attempt + 1 << "attempts";
            return result;
        }

        result.httpCode = status.toInt();
        const QByteArray body = reply->readAll();
        delete reply;
        if (!body.isEmpty()) {
            result.data = QString::fromUtf8(body);
            result.success = true;
            qDebug().noquote() << "✅ Success for:" << urlText << "(" << body.size() << "bytes)";
        } else {
            qWarning().noquote() << "⚠️  Empty response from:" << urlText;
            result.error = QStringLiteral("Empty response");
        }
        return result;
    }
}

void APIManager::fetchAllDefaultConfig()
{
    qDebug().noquote() << "\n" + kLine;
    qDebug().noquote() << "🚀 Starting Configuration Fetch...";
    qDebug().noquote() << kLine;

    if (fetchFlag().exchange(true)) {
        qDebug().noquote() << "⚠️ Config fetch already in progress, skipping duplicate request";
        return;
    }
    // Whatever happens below, the next fetch must not be refused for ever.
    struct FlagGuard
    {
        ~FlagGuard() { fetchFlag().store(false); }
    } guard;

    const bool configExists = Config::isConfigExist();
    if (configExists && loadCachedConfiguration()) {
        qDebug().noquote() << "✅ Using valid cached configuration";
        logState();
        fetchFlag().store(false);
        emit configUpdated();
        emit fetchCompleted();
        return;
    }

    qDebug().noquote() << "📡 Fetching fresh configuration from servers...";
    const QVector<QUrl> urls = sourceUrls();
    QVector<RequestResult> results(RequestCount);
    int completed = 0;
    bool failed = false;
    qDebug().noquote() << "📊 Initiating" << RequestCount << "parallel requests...";

    for (int index = 0; index < RequestCount; ++index) {
        RequestResult result;
        try {
            result = performGetRequestWithRetry(urls.at(index), 0);
        } catch (const std::exception &exception) {
            qCritical().noquote() << "💥 Exception for" << urls.at(index).toString() << ":" << exception.what();
            result.url = urls.at(index).toString();
            result.error = QString::fromLocal8Bit(exception.what());
        } catch (...) {
            qCritical().noquote() << "💥 Exception for" << urls.at(index).toString() << ":"
                                  << "unknown exception";
            result.url = urls.at(index).toString();
            result.error = QStringLiteral("unknown exception");
        }
        handleResult(index, result, results, completed, failed);
    }
}

void APIManager::handleResult(int index, const RequestResult &result, QVector<RequestResult> &results, int &completed,
                              bool &failed)
{
    results[index] = result;
    if (result.success) {
        qDebug().noquote() << "✅ Request" << index << "succeeded:" << result.url;
    } else {
        qWarning().noquote() << "❌ Request" << index << "failed:" << result.url;
        if (!result.error.isEmpty())
            qWarning().noquote() << "    Error:" << result.error;
        failed = true;
    }
    ++completed;
    qDebug().noquote() << "📈 Progress:" << completed << "/" << RequestCount << "requests completed";
    if (completed < RequestCount)
        return;

    qDebug().noquote() << "\n" + kLine;
    qDebug().noquote() << "🏁 All Requests Completed";
    qDebug().noquote() << kLine;
    processConfigResults(results);
    makeConfigDecision();
    if (failed) {
        qWarning().noquote() << "⚠️  Some requests failed, using best available config";
    } else {
        m_lastUpdate = QDateTime::currentDateTime();
        qDebug().noquote() << "✅ Configuration cache updated";
    }
    logState();
    fetchFlag().store(false);
    emit fetchCompleted();
}

bool APIManager::validateResponse(const QString &text, const QString &key) const
{
    if (text.isEmpty()) {
        qWarning().noquote() << "❌ Empty response for validation";
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning().noquote() << "❌ JSON parse error:" << error.errorString();
        qWarning().noquote() << "    At offset:" << error.offset;
        return false;
    }
    if (document.isNull() || !document.isObject()) {
        qWarning().noquote() << "❌ Invalid JSON structure";
        return false;
    }
    const QJsonObject object = document.object();
    if (object.contains(key)) {
        qDebug().noquote() << "✅ Validation passed for key:" << key;
        return true;
    }
    qWarning().noquote() << "❌ Missing expected key:" << key;
    qWarning().noquote() << "    Available keys:"
                         << "(" + object.keys().join(QStringLiteral(", ")) + ")";
    return false;
}

void APIManager::processConfigResults(const QVector<RequestResult> &results)
{
    qDebug().noquote() << "\n" + kLine;
    qDebug().noquote() << "🔍 Processing Configuration Results...";
    qDebug().noquote() << kLine;

    m_firebase = ConfigSource();
    m_proxy = ConfigSource();
    m_direct = ConfigSource();
    if (results.size() < RequestCount)
        qWarning().noquote() << "⚠️  Incomplete results, received" << results.size() << "of 6";

    struct Step
    {
        ConfigSource *source;
        int mainIndex;
        int countryIndex;
        const char *title; // as in "Processing Firebase Configuration"
        const char *name;  // as in "Firebase main config available"
        const char *label; // as in "Firebase disabled"
        const char *countryKey;
    };
    const Step steps[] = {
        {&m_firebase, FirebaseMain, FirebaseCountry, "Firebase", "Firebase", "Firebase", "documents"},
        {&m_proxy, ProxyMain, ProxyCountry, "Proxy", "Proxy", "Proxy", "login_url"},
        {&m_direct, DirectMain, DirectCountry, "Direct Link", "Direct link", "Direct link", "login_url"},
    };

    auto logFailure = [&results](int index) {
        if (index >= results.size())
            return;
        qDebug().noquote() << "      HTTP Code:" << results.at(index).httpCode;
        qDebug().noquote() << "      Error:" << results.at(index).error;
    };

    for (const Step &step : steps) {
        qDebug().noquote() << QStringLiteral("\n📦 Processing %1 Configuration...").arg(QLatin1String(step.title));
        const bool hasMain = step.mainIndex < results.size();
        if (hasMain && results.at(step.mainIndex).success &&
            validateResponse(results.at(step.mainIndex).data, QStringLiteral("fields"))) {
            step.source->mainConfig = results.at(step.mainIndex).data;
            step.source->available = true;
            qDebug().noquote() << QStringLiteral("  ✅ %1 main config available").arg(QLatin1String(step.name));
        } else {
            qDebug().noquote() << QStringLiteral("  ❌ %1 main config unavailable").arg(QLatin1String(step.name));
            logFailure(step.mainIndex);
        }

        const bool hasCountry = step.countryIndex < results.size();
        if (hasCountry && results.at(step.countryIndex).success &&
            validateResponse(results.at(step.countryIndex).data, QLatin1String(step.countryKey))) {
            step.source->countryConfig = results.at(step.countryIndex).data;
            if (step.source->available)
                qDebug().noquote() << QStringLiteral("  ✅ %1 country config available").arg(QLatin1String(step.name));
        } else {
            step.source->available = false;
            qDebug().noquote() << QStringLiteral("  ❌ %1 country config unavailable - %2 disabled")
                                      .arg(QLatin1String(step.name), QLatin1String(step.label));
            logFailure(step.countryIndex);
        }
    }

    qDebug().noquote() << "\n" + kLine;
    qDebug().noquote() << "📊 Configuration Availability Summary:";
    qDebug().noquote() << "   Firebase:    " + availability(m_firebase, true);
    qDebug().noquote() << "   Proxy:       " + availability(m_proxy, true);
    qDebug().noquote() << "   Direct Link: " + availability(m_direct, true);
    qDebug().noquote() << kLine;
}

void APIManager::makeConfigDecision()
{
    qDebug().noquote() << "\n" + kLine;
    qDebug().noquote() << "🎯 Making Configuration Decision...";
    qDebug().noquote() << kLine;

    const QString previous = userDefault("activeConfig");
    if (previous.isEmpty())
        qDebug().noquote() << "No previous configuration";
    else
        qDebug().noquote() << "Previous active config:" << previous;

    const ConfigSource *chosen = nullptr;
    QString name;
    if (m_proxy.available) {
        chosen = &m_proxy;
        name = QStringLiteral("proxy");
        qDebug().noquote() << "✅ Selected: Proxy configuration (Priority 1)";
    } else if (m_direct.available) {
        chosen = &m_direct;
        name = QStringLiteral("direct");
        qDebug().noquote() << "✅ Selected: Direct Link configuration (Priority 2)";
    } else if (m_firebase.available) {
        chosen = &m_firebase;
        name = QStringLiteral("firebase");
        qDebug().noquote() << "✅ Selected: Firebase configuration (Priority 3)";
    }

    if (!chosen) {
        qCritical().noquote() << "❌ CRITICAL: No valid configuration available!";
        qCritical().noquote() << "   Firebase: " + availability(m_firebase, false);
        qCritical().noquote() << "   Proxy: " + availability(m_proxy, false);
        qCritical().noquote() << "   Direct Link: " + availability(m_direct, false);
        Config::setConfigExist(false);
        emit configUpdateFailed();
        return;
    }

    saveConfiguration(chosen->mainConfig, chosen->countryConfig);
    cacheConfiguration(chosen->mainConfig, chosen->countryConfig, name);
    Config::setActiveConfig(name);
    Config::setConfigExist(true);
    if (!previous.isEmpty() && previous != name)
        qDebug().noquote() << "🔄 Configuration changed from" << previous << "to" << name;
    qDebug().noquote() << kLine + QLatin1Char('\n');
    emit configUpdated();
}

void APIManager::saveConfiguration(const QString &mainConfig, const QString &countryConfig)
{
    ++m_saveCounter;
    qDebug().noquote() << "\n" + kLine;
    qDebug().noquote() << "💾 Saving Configuration (Call #" << m_saveCounter << ")";
    qDebug().noquote() << kLine;

    const QString zone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    qDebug().noquote() << "🌍 System TimeZone:" << zone;
    const QString code = m_timeZoneMap.value(zone);
    if (!code.isEmpty())
        qDebug().noquote() << "🌍 Country Code:" << code;
    else
        qWarning().noquote() << "⚠️  Time zone not mapped, using default configuration";

    EndpointDocuments::CountryEndpoints country;
    QJsonParseError countryError;
    const QJsonDocument countryDocument = QJsonDocument::fromJson(countryConfig.toUtf8(), &countryError);
    if (countryDocument.isNull() || !countryDocument.isObject()) {
        qWarning().noquote() << "❌ Invalid country API config JSON";
        if (countryError.error != QJsonParseError::NoError)
            qWarning().noquote() << "   Parse error:" << countryError.errorString();
    } else {
        country = EndpointDocuments::countryEndpoints(countryDocument.object(), code);
        if (country.found) {
            auto describe = [](const QString &value) {
                return value.isEmpty() ? QStringLiteral("Not set") : QStringLiteral("Set (%1 chars)").arg(value.size());
            };
            qDebug().noquote() << "✅ Found country-specific configuration for:" << code;
            qDebug().noquote() << "   Login API:" << describe(country.login);
            qDebug().noquote() << "   Signup API:" << describe(country.signup);
            qDebug().noquote() << "   Social Auth API:" << describe(country.socialAuth);
        } else {
            qWarning().noquote() << "⚠️  No matching country configuration found for" << code;
            qWarning().noquote() << "   Will use default configuration";
        }
    }

    const QJsonDocument main = QJsonDocument::fromJson(mainConfig.toUtf8());
    if (main.isNull()) {
        qCritical().noquote() << "❌ CRITICAL: Main config JSON is invalid!";
        return;
    }
    const QJsonObject fields = main.object().value(QStringLiteral("fields")).toObject();

    int saved = 0;
    for (const EndpointDocuments::Endpoint &endpoint : EndpointDocuments::endpointTable()) {
        if (!fields.contains(QLatin1String(endpoint.field)))
            continue;
        const QString settingsKey = QLatin1String(endpoint.settingsKey);
        QString value = EndpointDocuments::rawEndpointValue(endpoint, fields, country);
        if (endpoint.encoded)
            value = decode(value, m_accountKey);
        if (value.isEmpty()) {
            if (settingsKey == QLatin1String("LoginURL"))
                qWarning().noquote() << "❌ Failed to decode login API";
            continue;
        }
        Config::setUserDefault(settingsKey, value);
        ++saved;
        qDebug().noquote() << QStringLiteral("✅ [%1] %2").arg(saved).arg(QLatin1String(endpoint.savedText));
    }

    qDebug().noquote() << "\n📊 Configuration Summary:";
    qDebug().noquote() << "   Total fields saved:" << saved;
    qDebug().noquote() << kLine;
    qDebug().noquote() << "✅ Configuration Saved Successfully";
    qDebug().noquote() << kLine + QLatin1Char('\n');
}

void APIManager::cacheConfiguration(const QString &mainConfig, const QString &countryConfig, const QString &name)
{
    const QString timestamp = QDateTime::currentDateTime().toString(Qt::ISODate);
    Config::setConfigCache(name, QLatin1String(SettingsKey::ConfigSuffix), mainConfig);
    Config::setConfigCache(name, QLatin1String(SettingsKey::CountryConfigSuffix), countryConfig);
    Config::setConfigCache(name, QLatin1String(SettingsKey::TimestampSuffix), timestamp);
    qDebug().noquote() << "💾 Cached" << name << "configuration";
    qDebug().noquote() << "   Timestamp:" << timestamp;
    qDebug().noquote() << "   Config size:" << mainConfig.size() << "bytes";
    qDebug().noquote() << "   Country config size:" << countryConfig.size() << "bytes";
}

APIManager::ConfigSource *APIManager::sourceByName(const QString &name)
{
    if (name == QLatin1String("proxy"))
        return &m_proxy;
    if (name == QLatin1String("direct"))
        return &m_direct;
    if (name == QLatin1String("firebase"))
        return &m_firebase;
    return nullptr;
}

bool APIManager::loadCachedConfiguration()
{
    const QString name = userDefault("activeConfig");
    if (name.isEmpty()) {
        qDebug().noquote() << "⚠️  No active config set, cannot load from cache";
        return false;
    }
    const QString mainConfig = Config::configCache(name, QLatin1String(SettingsKey::ConfigSuffix));
    const QString countryConfig = Config::configCache(name, QLatin1String(SettingsKey::CountryConfigSuffix));
    const QString timestamp = Config::configCache(name, QLatin1String(SettingsKey::TimestampSuffix));
    ConfigSource *source = sourceByName(name);
    if (mainConfig.isEmpty() || countryConfig.isEmpty() || timestamp.isEmpty() || !source) {
        qDebug().noquote() << "⚠️  Incomplete cached data for" << name;
        return false;
    }

    const QDateTime cachedAt = QDateTime::fromString(timestamp, Qt::ISODate);
    if (!cachedAt.isValid()) {
        qWarning().noquote() << "⚠️  Invalid cache timestamp";
        return false;
    }
    const qint64 hours = cachedAt.secsTo(QDateTime::currentDateTime()) / 3600;
    if (hours > CacheValidHours) {
        qDebug().noquote() << "⏰ Cached config expired";
        qDebug().noquote() << "   Cache age:" << hours << "hours";
        qDebug().noquote() << "   Max age:" << CacheValidHours << "hours";
        return false;
    }
    qDebug().noquote() << "✅ Loading cached" << name << "configuration";
    qDebug().noquote() << "   Cached at:" << timestamp;
    qDebug().noquote() << "   Age:" << hours << "hours";
    qDebug().noquote() << "   Valid for:" << CacheValidHours - hours << "more hours";
    source->mainConfig = mainConfig;
    source->countryConfig = countryConfig;
    source->available = true;
    m_lastUpdate = cachedAt;
    return true;
}

void APIManager::switchConfig()
{
    qDebug().noquote() << "\n" + kLine;
    qDebug().noquote() << "🔄 Switching Configuration...";
    qDebug().noquote() << kLine;
    const QString current = userDefault("activeConfig");
    qDebug().noquote() << "Current config:" << current;

    QStringList candidates;
    if (current == QLatin1String("proxy")) {
        candidates = QStringList{QStringLiteral("direct"), QStringLiteral("firebase")};
    } else if (current == QLatin1String("direct")) {
        candidates = QStringList{QStringLiteral("firebase"), QStringLiteral("proxy")};
    } else if (current == QLatin1String("firebase")) {
        candidates = QStringList{QStringLiteral("proxy"), QStringLiteral("direct")};
    } else {
        qDebug().noquote() << "No current config, selecting best available...";
        candidates = QStringList{QStringLiteral("proxy"), QStringLiteral("direct"), QStringLiteral("firebase")};
    }

    QString target;
    for (const QString &candidate : candidates) {
        const ConfigSource *source = sourceByName(candidate);
        if (!source->available)
            continue;
        // Only the first available one is considered.
        if (!source->mainConfig.isEmpty() && !source->countryConfig.isEmpty())
            target = candidate;
        break;
    }

    if (!target.isEmpty()) {
        const ConfigSource *source = sourceByName(target);
        qDebug().noquote() << "✅ Switching to:" << target;
        saveConfiguration(source->mainConfig, source->countryConfig);
        cacheConfiguration(source->mainConfig, source->countryConfig, target);
        Config::setActiveConfig(target);
        Config::setConfigExist(true);
        qDebug().noquote() << "✅ Successfully switched to" << target;
    } else {
        qWarning().noquote() << "❌ No alternative configuration available for switching";
        qWarning().noquote() << "   Firebase: " + availability(m_firebase, false);
        qWarning().noquote() << "   Proxy: " + availability(m_proxy, false);
        qWarning().noquote() << "   Direct Link: " + availability(m_direct, false);
    }
    qDebug().noquote() << kLine + QLatin1Char('\n');
    emit configUpdated();
}

void APIManager::logState() const
{
    qDebug().noquote() << "\n" + kLine;
    qDebug().noquote() << "📊 Current Configuration State:";
    qDebug().noquote() << kLine;
    qDebug().noquote() << "Active Config:" << userDefault("activeConfig", QStringLiteral("none"));
    qDebug().noquote() << "Firebase:     " + availability(m_firebase, true);
    qDebug().noquote() << "Proxy:        " + availability(m_proxy, true);
    qDebug().noquote() << "Direct Link:  " + availability(m_direct, true);
    if (m_lastUpdate.isValid()) {
        qDebug().noquote() << "Last Update:  " + m_lastUpdate.toString();
        qDebug().noquote() << "Config Age:   " << m_lastUpdate.secsTo(QDateTime::currentDateTime()) / 60 << "minutes";
    }
    qDebug().noquote() << kLine + QLatin1Char('\n');
}

} // namespace Tavrix
