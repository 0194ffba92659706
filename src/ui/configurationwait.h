#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace Tavrix {

class APIManager;

// Waits, without blocking, for the endpoint configuration that the account API needs.
// The sign-in pages use it before signing in: it asks their configuration service for a
// fetch and reports the outcome once, when the service answers or the time-out passes,
// whichever comes first. The time-out holds even while the fetch itself is still busy.
class ConfigurationWait : public QObject
{
    Q_OBJECT
public:
    // The page's own wording of the log lines.
    struct Texts
    {
        QString waiting;  // "⏳ ... (timeout:"
        QString fetching; // "📡 Fetching configuration..."
        QString timedOut; // "⏱️ Configuration load timeout"
        QString loaded;   // "✅ Configuration loaded successfully"
        QString failed;   // "❌ Failed to load configuration"
    };
    using Done = std::function<void(bool)>;

    ConfigurationWait(const Texts &texts, QObject *parent = nullptr);
    ~ConfigurationWait() override;

    void setService(APIManager *service);

    // `isReady` decides whether the configuration can be used as it is (then `done(true)`
    // runs at once). Otherwise a fetch starts and `done` runs later with its outcome.
    void start(int timeoutMs, const std::function<bool()> &isReady, Done done);
    bool isWaiting() const { return static_cast<bool>(m_done); }
    // Ends a running wait at once with a failure.
    void cancel();
    // Ends a running wait without reporting anything (its owner is going away).
    void abandon();

    // "isConfigExist" set and a sign-in address stored. Logs the outcome in the page's words.
    static bool isConfigurationAvailable(const QString &availableText, const QString &unavailableText);
    // Whole hours since the active source's cache entry was written; -1 without an entry.
    static qint64 activeCacheAgeHours(bool *hasActiveSource = nullptr);

private:
    void finish(bool result, bool timedOut);

    Texts m_texts;
    QPointer<APIManager> m_service;
    QTimer m_timer;
    Done m_done;
    QMetaObject::Connection m_updated;
    QMetaObject::Connection m_failed;
};

} // namespace Tavrix
