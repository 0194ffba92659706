#pragma once

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVector>

class QNetworkAccessManager;
class QTimer;

namespace Tavrix {

// Finds the service's account endpoints. Three sources (Firestore, a proxy relay and a direct
// relay) each serve a main and a country document; the first usable source in the order
// proxy, direct, firebase wins, its endpoint values go to the settings group "UserDefaults"
// and its documents are cached for 24 hours in "ConfigCache". Many objects own an instance;
// one process-wide flag keeps their fetches from overlapping.
class APIManager : public QObject
{
    Q_OBJECT
public:
    struct RequestResult
    {
        QString data;
        bool success = false;
        QString url;
        int httpCode = 0;
        QString error;
    };

    struct ConfigSource
    {
        bool available = false;
        QString mainConfig;
        QString countryConfig;
    };

    // Request indices of a fetch.
    enum SourceIndex {
        FirebaseMain = 0,
        ProxyMain = 1,
        DirectMain = 2,
        FirebaseCountry = 3,
        ProxyCountry = 4,
        DirectCountry = 5,
        RequestCount = 6
    };

    static constexpr int MaxAttempts = 3;
    static constexpr int RetryDelayMs = 2000;
    static constexpr int AttemptTimeoutMs = 15000;
    static constexpr int RefreshIntervalMs = 21600000;
    static constexpr int CacheValidHours = 24;

    explicit APIManager(QObject *parent = nullptr);
    ~APIManager() override;

    // The six configuration addresses in index order (the override origin applied).
    static QVector<QUrl> sourceUrls();

    // Performs attempt number attempt (from 0) and, after a retryable network error, the
    // later ones, 2 s apart, at most three in all. Blocks in local event loops; returns the
    // one final result.
    RequestResult performGetRequestWithRetry(const QUrl &url, int attempt = 0);

    // Whole-text, case-insensitive e-mail check.
    static bool isValidEmail(const QString &text);

    // IANA time-zone name to ISO 3166 alpha-2 country code.
    const QMap<QString, QString> &timeZoneMap() const { return m_timeZoneMap; }

    const ConfigSource &firebase() const { return m_firebase; }
    const ConfigSource &proxy() const { return m_proxy; }
    const ConfigSource &direct() const { return m_direct; }
    QDateTime lastUpdate() const { return m_lastUpdate; }
    // True while any instance in the process is fetching.
    static bool isFetchInProgress();

public slots:
    // One fetch: from a valid cache entry, else from the network. Returns when it has ended
    // and its signals went out, or at once when another fetch is running.
    void fetchAllDefaultConfig();
    // Moves to another source that the last fetch found usable.
    void switchConfig();

signals:
    void configUpdated();
    void configUpdateFailed();
    void fetchCompleted();

private:
    void buildTimeZoneMap();
    void logSslSupport() const;
    void handleResult(int index, const RequestResult &result, QVector<RequestResult> &results, int &completed,
                      bool &failed);
    void processConfigResults(const QVector<RequestResult> &results);
    void makeConfigDecision();
    void saveConfiguration(const QString &mainConfig, const QString &countryConfig);
    void cacheConfiguration(const QString &mainConfig, const QString &countryConfig, const QString &name);
    bool loadCachedConfiguration();
    bool validateResponse(const QString &text, const QString &key) const;
    void logState() const;
    ConfigSource *sourceByName(const QString &name);

    const QString m_accountKey;
    const QString m_responseKey;
    QNetworkAccessManager *m_networkManager = nullptr;
    QTimer *m_refreshTimer = nullptr;
    QDateTime m_lastUpdate;
    ConfigSource m_firebase;
    ConfigSource m_proxy;
    ConfigSource m_direct;
    int m_saveCounter = 0;
    QMap<QString, QString> m_timeZoneMap;
};

} // namespace Tavrix
