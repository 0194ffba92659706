#include "ui/autologinpage.h"

#include <QDebug>
#include <QLabel>
#include <QMovie>
#include <QTimer>
#include <QVBoxLayout>

#include "api/apimanager.h"
#include "api/apirequest.h"
#include "common/config.h"
#include "ui/brand.h"
#include "ui/configurationwait.h"
#include "ui/dbox.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {

namespace {
const char *const frame = "========================================";
}

AutoLoginPage::AutoLoginPage(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Tavrix__AutoLoginPage"));
    auto *column = new QVBoxLayout(this);
    column->addStretch();

    m_logo = new QLabel(this);
    m_logo->setObjectName(QStringLiteral("lblLogo"));
    m_logo->setAlignment(Qt::AlignCenter);
    m_logo->setPixmap(QPixmap(QStringLiteral(":/assets/login-logo.png"))
                          .scaled(180, 180, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    column->addWidget(m_logo, 0, Qt::AlignHCenter);

    m_movie = new QMovie(QStringLiteral(":/assets/busy.gif"), QByteArray(), this);
    m_busy = new QLabel(this);
    m_busy->setObjectName(QStringLiteral("lblBusy"));
    m_busy->setFixedSize(48, 48);
    m_busy->setScaledContents(true);
    m_busy->setMovie(m_movie);
    m_busy->hide();
    column->addSpacing(18);
    column->addWidget(m_busy, 0, Qt::AlignHCenter);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblStartStatus"));
    m_status->setAlignment(Qt::AlignCenter);
    m_status->hide();
    column->addSpacing(10);
    column->addWidget(m_status, 0, Qt::AlignHCenter);
    column->addStretch();

    m_apiManager = new APIManager(this);
    connect(m_apiManager, &APIManager::configUpdated, this, &AutoLoginPage::onConfigUpdated);
    connect(m_apiManager, &APIManager::configUpdateFailed, this, &AutoLoginPage::onConfigUpdateFailed);
    connect(m_apiManager, &APIManager::fetchCompleted, this, &AutoLoginPage::onConfigFetchCompleted);

    m_wait = new ConfigurationWait({QStringLiteral("⏳ Auto-login waiting for configuration (timeout:"),
                                    QStringLiteral("📡 Fetching configuration for auto-login..."),
                                    QStringLiteral("⏱️ Configuration load timeout in auto-login"),
                                    QStringLiteral("✅ Configuration loaded successfully for auto-login"),
                                    QStringLiteral("❌ Failed to load configuration for auto-login")},
                                   this);
    m_wait->setService(m_apiManager);
}

AutoLoginPage::~AutoLoginPage()
{
    // The continuation of a running wait belongs to this page, which is going away.
    m_wait->abandon();
}

void AutoLoginPage::paintEvent(QPaintEvent *)
{
    Brand::paintPlainBackground(this);
}

void AutoLoginPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, &AutoLoginPage::startAutoLogin);
}

void AutoLoginPage::startAgain()
{
    QTimer::singleShot(0, this, &AutoLoginPage::startAutoLogin);
}

bool AutoLoginPage::cacheIsFresh(bool log)
{
    bool hasSource = false;
    const qint64 hours = ConfigurationWait::activeCacheAgeHours(&hasSource);
    if (!hasSource)
        return true;
    if (hours < 0)
        return false;
    if (log)
        qDebug() << "📅 Cache age:" << hours << "hours";
    if (hours <= 24) {
        if (log)
            qDebug() << "✅ Cache is fresh (" << hours << "hours old)";
        return true;
    }
    if (log)
        qWarning() << "⚠️ Cache is" << hours << "hours old (> 24 hours), fetching fresh config";
    return false;
}

void AutoLoginPage::startAutoLogin()
{
    if (m_running || !isVisible())
        return;
    m_running = true;
    qDebug().noquote() << "\n" + QLatin1String(frame);
    qDebug() << "🔄 Auto-login started";
    qDebug() << frame;
    m_busy->show();
    m_movie->start();

    auto config = Config::instance();
    config->load();
    m_userName = config->userName();
    m_password = config->password();

    qDebug() << "User logged in status:" << (config->autoLogin() ? "true" : "false");
    qDebug() << "Cached username:" << (m_userName.isEmpty() ? "Empty" : "Set");

    if (!config->autoLogin()) {
        qWarning() << "⚠️ User not previously logged in, skipping auto-login";
        stopBusy();
        m_running = false;
        emit loginFailed();
        return;
    }

    const bool available = ConfigurationWait::isConfigurationAvailable(
        QStringLiteral("✅ Configuration is available for auto-login"),
        QStringLiteral("⚠️ Configuration not available for auto-login"));
    // A configuration older than a day is refreshed before it is relied on.
    if (available && cacheIsFresh(false)) {
        signIn();
        return;
    }
    if (!available)
        qWarning() << "⚠️ Configuration not available for auto-login, loading...";
    m_wait->start(
        ConfigurationTimeoutMs,
        [] {
            if (!ConfigurationWait::isConfigurationAvailable(
                    QStringLiteral("✅ Configuration is available for auto-login"),
                    QStringLiteral("⚠️ Configuration not available for auto-login")))
                return false;
            qDebug() << "✅ Configuration already available";
            return cacheIsFresh(true);
        },
        [this](bool loaded) { continueAfterConfiguration(loaded); });
}

void AutoLoginPage::continueAfterConfiguration(bool loaded)
{
    if (!loaded) {
        qCritical() << "❌ Failed to load configuration for auto-login";
        stopBusy();
        showMessage(QStringLiteral("Failed to load configuration. Please check your internet connection."));
        qDebug().noquote() << QLatin1String(frame) + "\n";
        m_running = false;
        emit loginFailed();
        return;
    }
    qDebug() << "✅ Configuration loaded, proceeding with auto-login";
    signIn();
}

void AutoLoginPage::signIn()
{
    qDebug() << "📡 Attempting auto-login...";
    auto api = ApiRequest::instance();
    const int code = api->login(m_userName, m_password);
    qDebug() << "Auto-login response code:" << code;
    stopBusy();

    if (code == ApiRequest::LoginSuccess) {
        qDebug() << "✅ Auto-login successful!";
        auto connection = OpenConnectConnection::instance();
        connection->setUsername(m_userName);
        connection->setPassword(m_password);
        Config::instance()->setAutoLogin(true);
        qDebug().noquote() << QLatin1String(frame) + "\n";
        m_running = false;
        emit loginSuccessfull();
        return;
    }
    qWarning() << "❌ Auto-login failed:" << api->errorMessage();
    if (ApiRequest::isCredentialRefusal(code)) {
        // Trying them again at every start would only repeat the refusal; a network failure
        // keeps them. The user name stays for the form.
        qWarning() << "Stored credentials refused: automatic sign-in switched off";
        auto config = Config::instance();
        config->setAutoLogin(false);
        config->setPassword(QString());
        config->save();
    }
    qDebug().noquote() << QLatin1String(frame) + "\n";
    showMessage(api->errorMessage());
    m_running = false;
    emit loginFailed();
}

void AutoLoginPage::setWaiting(bool waiting)
{
    m_waiting = waiting;
    // A first start may wait many seconds for the service: say so at once.
    m_status->setText(QStringLiteral("Connecting to the service…"));
    m_status->setVisible(waiting);
    if (waiting) {
        m_busy->show();
        m_movie->start();
    } else if (!m_running) {
        stopBusy();
    }
}

void AutoLoginPage::stopBusy()
{
    if (m_waiting)
        return;
    m_movie->stop();
    m_busy->hide();
}

void AutoLoginPage::showMessage(const QString &title)
{
    auto *box = new DBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setSubmitText(QStringLiteral("Ok"));
    box->setTitle(title);
    box->show();
}

void AutoLoginPage::onConfigUpdated()
{
    qDebug() << "✅ Auto-login: Configuration updated";
    emit apiManagerSuccess();
}

void AutoLoginPage::onConfigUpdateFailed()
{
    qCritical() << "❌ Auto-login: Configuration update failed";
    emit apiManagerFailed();
}

void AutoLoginPage::onConfigFetchCompleted()
{
    qDebug() << "🏁 Auto-login: Configuration fetch completed";
}

} // namespace Tavrix
