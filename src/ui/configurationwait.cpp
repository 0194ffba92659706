#include "ui/configurationwait.h"

#include <QDateTime>
#include <QDebug>

#include "api/apimanager.h"
#include "common/config.h"

namespace Tavrix {

ConfigurationWait::ConfigurationWait(const Texts &texts, QObject *parent)
    : QObject(parent)
    , m_texts(texts)
{
    m_timer.setSingleShot(true);
    // A coarse timer may end the wait up to 5 % early.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { finish(false, true); });
}

ConfigurationWait::~ConfigurationWait()
{
    // Whoever waits (possibly a blocked worker) must not wait forever.
    if (m_done) {
        Done done = std::move(m_done);
        done(false);
    }
}

void ConfigurationWait::setService(APIManager *service)
{
    m_service = service;
}

bool ConfigurationWait::isConfigurationAvailable(const QString &availableText, const QString &unavailableText)
{
    const bool exists = Config::isConfigExist();
    const bool hasLoginUrl = !Config::loginUrl().isEmpty();
    if (exists && hasLoginUrl) {
        qDebug().noquote() << availableText;
        return true;
    }
    qWarning().noquote() << unavailableText;
    qWarning().noquote() << "   isConfigExist:" << (exists ? "true" : "false");
    qWarning().noquote() << "   loginURL:" << (hasLoginUrl ? "Set" : "Empty");
    return false;
}

qint64 ConfigurationWait::activeCacheAgeHours(bool *hasActiveSource)
{
    const QString active = Config::activeConfig();
    if (hasActiveSource)
        *hasActiveSource = !active.isEmpty();
    if (active.isEmpty())
        return -1;
    const QString stamp =
        Config::value(QLatin1String(SettingsGroup::ConfigCache), active + QLatin1String(SettingsKey::TimestampSuffix))
            .toString();
    const QDateTime written = QDateTime::fromString(stamp, Qt::ISODate);
    if (stamp.isEmpty() || !written.isValid())
        return -1;
    return written.secsTo(QDateTime::currentDateTime()) / 3600;
}

void ConfigurationWait::start(int timeoutMs, const std::function<bool()> &isReady, Done done)
{
    if (m_done) {
        // One wait at a time: a second caller shares nothing and simply fails.
        done(false);
        return;
    }
    qDebug().noquote() << m_texts.waiting << timeoutMs << "ms)...";
    if (isReady()) {
        done(true);
        return;
    }
    if (!m_service) {
        qWarning().noquote() << "❌ APIManager not available";
        done(false);
        return;
    }
    qDebug().noquote() << m_texts.fetching;
    m_done = std::move(done);
    m_updated = connect(m_service, &APIManager::configUpdated, this, [this] { finish(true, false); });
    m_failed = connect(m_service, &APIManager::configUpdateFailed, this, [this] { finish(false, false); });
    m_timer.start(timeoutMs);
    // Started from the event loop so that the time-out can end the wait even while the
    // fetch is still waiting for its sources.
    QPointer<APIManager> service = m_service;
    QTimer::singleShot(0, m_service, [service] {
        if (service)
            service->fetchAllDefaultConfig();
    });
}

void ConfigurationWait::cancel()
{
    finish(false, false);
}

void ConfigurationWait::abandon()
{
    m_timer.stop();
    disconnect(m_updated);
    disconnect(m_failed);
    m_done = nullptr;
}

void ConfigurationWait::finish(bool result, bool timedOut)
{
    if (!m_done)
        return;
    m_timer.stop();
    disconnect(m_updated);
    disconnect(m_failed);
    if (timedOut) {
        qWarning().noquote() << m_texts.timedOut;
        // Another part of the window may have fetched the configuration meanwhile.
        if (Config::isConfigExist() && !Config::loginUrl().isEmpty()) {
            qDebug() << "✅ Configuration became available while waiting";
            result = true;
        }
    }
    if (result)
        qDebug().noquote() << m_texts.loaded;
    else
        qWarning().noquote() << m_texts.failed;
    Done done = std::move(m_done);
    m_done = nullptr;
    done(result);
}

} // namespace Tavrix
