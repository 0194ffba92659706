#include "ui/loginpage.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPushButton>
#include <QSemaphore>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "api/apimanager.h"
#include "api/apirequest.h"
#include "api/signinflow.h"
#include "common/config.h"
#include "ui/authbuttons.h"
#include "ui/brand.h"
#include "ui/configurationwait.h"
#include "ui/dbox.h"
#include "ui/signuplabelbutton.h"

namespace Tavrix {

namespace {
const char *const frame = "========================================";

// What each mode logs around its request, indexed by mode.
struct ActionLogs
{
    const char *unavailable;
    const char *failedLoad;
    const char *loaded;
    const char *attempt;
    const char *succeeded;
    const char *failed;
};
const ActionLogs actionLogs[] = {
    {"⚠️ Configuration not available, loading...", "❌ Failed to load configuration",
     "✅ Configuration loaded, proceeding with login", "📡 Attempting login...", "✅ Login successful!",
     "❌ Login failed:"},
    {"⚠️ Configuration not available for signup", "❌ Failed to load configuration for signup", nullptr,
     "📡 Attempting signup...", "✅ Signup successful!", "❌ Signup failed:"},
    {"⚠️ Configuration not available for password reset", "❌ Failed to load configuration for password reset",
     nullptr, "📡 Requesting password reset...", "✅ Password reset request successful", "❌ Password reset failed:"},
};

void logBanner(const char *title)
{
    qDebug().noquote() << "\n" + QLatin1String(frame);
    qDebug().noquote() << title;
    qDebug().noquote() << frame;
}
} // namespace

LoginPage::LoginPage(QWidget *parent)
    : QWidget(parent)
    , m_api(ApiRequest::instance())
{
    buildForm();

    m_movie = new QMovie(QStringLiteral(":/assets/busy.gif"), QByteArray(), this);
    connect(m_movie, &QMovie::frameChanged, this, [this] {
        const int side = m_btnLogin->height() > 0 ? m_btnLogin->height() : 26;
        m_btnLogin->setIcon(
            QIcon(m_movie->currentPixmap().scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    });

    m_wait = new ConfigurationWait(
        {QStringLiteral("⏳ Waiting for configuration (timeout:"), QStringLiteral("📡 Fetching configuration..."),
         QStringLiteral("⏱️ Configuration load timeout"), QStringLiteral("✅ Configuration loaded successfully"),
         QStringLiteral("❌ Failed to load configuration")},
        this);
    if (!m_api) {
        qWarning() << "⚠️ ApiRequest not available";
    } else if (!m_api->apiManager()) {
        qWarning() << "⚠️ APIManager not available";
    } else {
        qDebug() << "✅ Connecting to APIManager signals";
        APIManager *service = m_api->apiManager();
        m_wait->setService(service);
        connect(service, &APIManager::configUpdated, this, &LoginPage::onConfigUpdated);
        connect(service, &APIManager::configUpdateFailed, this, &LoginPage::onConfigUpdateFailed);
        connect(service, &APIManager::fetchCompleted, this, &LoginPage::onConfigFetchCompleted);
    }

    connect(this, &LoginPage::animationStart, this, [this] { setBusy(true); });
    connect(this, &LoginPage::showDialog, this, &LoginPage::openDialog);
    connect(this, &LoginPage::successfullySignUp, this, &LoginPage::onSignUpSucceeded);
    connect(this, &LoginPage::forgetPassSuccessfull, this, &LoginPage::onResetSucceeded);
    connect(m_header, &SignUpLabelButton::click, this, &LoginPage::on_btnSignup_pressed);
    connect(m_signUpButton, &SignUpGmailButton::signUpButtonPress, this, &LoginPage::on_btnSignup_pressed);
    connect(m_google, &GoogleAuthButton::googleSignInButtonPress, this, &LoginPage::googleButtonClicked);

    connect(m_btnLogin, &QPushButton::pressed, this, &LoginPage::on_btnLogin_pressed);
    connect(m_btnForgotPassword, &QPushButton::pressed, this, &LoginPage::on_btnForgotPassword_pressed);
    updateLoginWidgets();
}

LoginPage::~LoginPage()
{
    // A running action talks to this page through queued calls: let it run out (it is
    // bounded by its request time-outs) with every call turned into a no-op.
    m_closing.storeRelease(1);
    if (m_wait->isWaiting())
        m_wait->cancel();
    while (m_watcher && m_watcher->isRunning())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

void LoginPage::fillFromConfig()
{
    auto config = Config::instance();
    config->load();
    m_editUsername->setText(config->userName());
    m_editPassword->setText(config->password());
}

void LoginPage::updateLoginWidgets(bool fill)
{
    qDebug() << "🔄 Updating login widgets";
    m_editUsername->setFocus();
    m_socalAuth->show();

    const auto setButtonText = [this](const QString &text) {
        // While busy the button shows only the animation.
        if (!m_busy)
            m_btnLogin->setText(text);
    };
    const auto showPassword = [this](bool on) {
        m_editPassword->setVisible(on);
        m_passwordPrefix->setVisible(on);
        m_passwordSuffix->setVisible(on);
        m_passwordWidget->setVisible(on);
    };
    const auto showSignUpFields = [this](bool on) {
        m_editConfirmPassword->setVisible(on);
        m_confirmPrefix->setVisible(on);
        m_confirmPasswordWidget->setVisible(on);
        m_subscriptionCodeWidget->setVisible(on);
        m_divider->setVisible(on);
        m_cbUserConsent->setVisible(on);
    };

    switch (m_mode) {
    case SignIn:
        m_header->setTexts(QStringLiteral("Log In to Your Account"), QString(), QString());
        setButtonText(tr("Log In"));
        if (fill)
            fillFromConfig();
        showPassword(true);
        showSignUpFields(false);
        m_appVersion->show();
        m_btnForgotPassword->show();
        m_signUpButton->show();
        break;
    case SignUp:
        m_header->setTexts(QStringLiteral("Create Your Tavrix VPN ID"),
                           QStringLiteral("Buy one subsciription and use 5 devices"),
                           QStringLiteral("simultaneously. Already have and ID?"));
        setButtonText(tr("Sign Up"));
        showSignUpFields(true);
        m_topLabelWidget->show();
        m_appVersion->hide();
        m_btnForgotPassword->hide();
        m_signUpButton->hide();
        break;
    case ResetPassword:
        m_header->setTexts(QStringLiteral("Reset Your Password"),
                           QStringLiteral("Submit your registered email to find"),
                           QStringLiteral("you easily. Back to"));
        setButtonText(tr("Submit"));
        showPassword(false);
        showSignUpFields(false);
        m_topLabelWidget->show();
        m_appVersion->hide();
        m_btnForgotPassword->hide();
        m_socalAuth->hide();
        break;
    }
    m_apple->hide();
}

void LoginPage::paintEvent(QPaintEvent *)
{
    Brand::paintPlainBackground(this);
}

void LoginPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (m_busy)
            return;
        if (m_fill) {
            fillFromConfig();
            m_fill = false;
        }
        updateLoginWidgets();
    });
}

void LoginPage::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        on_btnLogin_pressed();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool LoginPage::eventFilter(QObject *watched, QEvent *event)
{
    QLineEdit *field = watched == m_passwordSuffix  ? m_editPassword
                       : watched == m_confirmSuffix ? m_editConfirmPassword
                                                    : nullptr;
    if (field) {
        auto *icon = static_cast<QLabel *>(watched);
        if (event->type() == QEvent::MouseButtonPress) {
            field->setEchoMode(QLineEdit::Normal);
            icon->setPixmap(QPixmap(QStringLiteral(":/assets/icon_hide.png")));
        } else if (event->type() == QEvent::MouseButtonRelease) {
            field->setFocus();
            field->setEchoMode(QLineEdit::Password);
            icon->setPixmap(QPixmap(QStringLiteral(":/assets/show.png")));
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LoginPage::setBusy(bool busy)
{
    m_busy = busy;
    for (QWidget *widget : std::initializer_list<QWidget *>{m_btnLogin, m_btnForgotPassword, m_passwordSuffix,
                                                            m_editPassword, m_editUsername, m_editConfirmPassword})
        widget->setEnabled(!busy);
    if (busy) {
        m_btnLogin->setText(QString());
        m_btnLogin->setIconSize(QSize(26, 26));
        m_movie->start();
    } else {
        m_movie->stop();
        m_btnLogin->setIcon(QIcon());
    }
    // Re-applies the mode without overwriting what the user typed.
    updateLoginWidgets(false);
}

void LoginPage::openDialog(const QString &title)
{
    DBox box;
    box.setSubmitText(QStringLiteral("ok"));
    box.setTitle(title);
    box.exec();
}

void LoginPage::on_btnLogin_pressed()
{
    if (m_watcher) {
        qDebug() << "Action already running, ignoring the request";
        return;
    }
    startAction();
}

void LoginPage::startAction()
{
    // The values are taken before the page turns busy, exactly as the user left them.
    m_entered.user = m_editUsername->text();
    m_entered.password = m_editPassword->text();
    m_entered.confirmation = m_editConfirmPassword->text();
    m_entered.subscriptionCode = m_editSubscription->text();
    m_entered.consent = m_cbUserConsent->isChecked();

    m_watcher = new QFutureWatcher<void>(this);
    connect(m_watcher, &QFutureWatcher<void>::finished, this, [this] {
        setBusy(false);
        m_watcher->deleteLater();
        m_watcher = nullptr;
    });
    const SignInFlow::Entered entered = m_entered;
    const int mode = m_mode;
    m_watcher->setFuture(QtConcurrent::run([this, entered, mode] { runAction(mode, entered); }));
}

template<typename F> void LoginPage::onGui(F &&work)
{
    Q_ASSERT(QThread::currentThread() != thread());
    QMetaObject::invokeMethod(
        this,
        [this, &work] {
            if (!m_closing.loadAcquire())
                work();
        },
        Qt::BlockingQueuedConnection);
}

void LoginPage::tell(const QString &text)
{
    // Queued like every other hand-over, so the message keeps its place in the order; the
    // action goes on without waiting for the user to read it.
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (!m_closing.loadAcquire())
                emit showDialog(text);
        },
        Qt::QueuedConnection);
}

bool LoginPage::waitForConfiguration(int timeoutMs)
{
    QSemaphore done;
    bool result = false;
    onGui([&] {
        m_wait->start(
            timeoutMs,
            [] {
                if (!ConfigurationWait::isConfigurationAvailable(QStringLiteral("✅ Configuration is available"),
                                                                 QStringLiteral("⚠️ Configuration not available")))
                    return false;
                qDebug() << "✅ Configuration already available";
                return true;
            },
            [&](bool loaded) {
                result = loaded;
                done.release();
            });
    });
    if (m_closing.loadAcquire() && done.available() == 0)
        return false;
    done.acquire();
    return result;
}

bool LoginPage::ensureConfiguration(const char *unavailableLog, const char *failedLog, const char *loadedLog)
{
    if (ConfigurationWait::isConfigurationAvailable(QStringLiteral("✅ Configuration is available"),
                                                    QStringLiteral("⚠️ Configuration not available")))
        return true;
    qWarning().noquote() << unavailableLog;
    // Told on the page while it waits, and there with a Retry when it fails: no box to close.
    onGui([this] { setServiceState(ServiceConnecting); });
    const bool loaded = waitForConfiguration(ConfigurationTimeoutMs);
    onGui([this, loaded] { setServiceState(loaded ? ServiceReachable : ServiceUnreachable); });
    if (!loaded) {
        qCritical().noquote() << failedLog;
        return false;
    }
    if (loadedLog)
        qDebug().noquote() << loadedLog;
    return true;
}

void LoginPage::runAction(int mode, const SignInFlow::Entered &entered)
{
    const auto flowMode = static_cast<SignInFlow::Mode>(mode);
    const ActionLogs &logs = actionLogs[flowMode];
    emit animationStart();
    logBanner(SignInFlow::banner(flowMode));

    const SignInFlow::Entered request = SignInFlow::prepared(flowMode, entered);
    if (const auto refused = SignInFlow::refusal(flowMode, request)) {
        qWarning() << refused->log;
        tell(refused->text);
        return;
    }
    if (!ensureConfiguration(logs.unavailable, logs.failedLoad, logs.loaded))
        return;

    if (const auto tried = SignInFlow::storedBeforeRequest(flowMode, request))
        onGui([&] { SignInFlow::store(*tried); });
    int code = 0;
    QString error;
    if (flowMode != SignInFlow::SignUp)
        qDebug().noquote() << logs.attempt;
    onGui([&] {
        if (flowMode == SignInFlow::SignUp)
            qDebug().noquote() << logs.attempt;
        code = SignInFlow::send(*m_api, flowMode, request);
        error = m_api->errorMessage();
        if (flowMode == SignInFlow::SignIn) {
            m_editUsername->setText(request.user);
            m_editPassword->setText(request.password);
        }
    });
    if (flowMode == SignInFlow::SignIn)
        qDebug() << "Login response code:" << code;

    if (!SignInFlow::succeeded(flowMode, code)) {
        if (SignInFlow::autoLoginOffAfterFailure(flowMode, code)) {
            onGui([] {
                auto config = Config::instance();
                config->setAutoLogin(false);
                config->save();
            });
        }
        qWarning() << logs.failed << error;
        tell(error);
        return;
    }
    if (SignInFlow::autoLoginAfterSuccess(flowMode)) {
        onGui([&] {
            qDebug() << logs.succeeded;
            auto config = Config::instance();
            config->setAutoLogin(true);
            m_fill = true;
            config->save();
            qDebug().noquote() << QLatin1String(frame) + "\n";
            emit loginSuccessfull();
        });
        return;
    }
    qDebug() << logs.succeeded;
    if (const auto kept = SignInFlow::storedAfterSuccess(flowMode, request))
        onGui([&] { SignInFlow::store(*kept); });
    // Queued: the confirmation opens after the action has ended.
    QMetaObject::invokeMethod(
        this,
        [this, flowMode] {
            if (flowMode == SignInFlow::SignUp)
                emit successfullySignUp();
            else
                emit forgetPassSuccessfull();
        },
        Qt::QueuedConnection);
}

void LoginPage::onSignUpSucceeded()
{
    DBox box;
    box.setSubmitText(QStringLiteral("Got It!"));
    box.setTitle(QStringLiteral("We have sent a verification link to your email address. Please, check your "
                                "inbox/spam to activate the account."));
    connect(&box, &DBox::submit, this, [this] {
        if (m_mode == SignUp)
            m_mode = SignIn;
        updateLoginWidgets();
    });
    box.exec();
}

void LoginPage::onResetSucceeded()
{
    DBox box;
    box.setSubmitText(QStringLiteral("Ok"));
    box.setCancelText(QStringLiteral("Resend"));
    box.setTitle(QStringLiteral("Password reset link sent."));
    box.setText(QStringLiteral("Kindly verify your email \nfor the reset link."));
    bool resend = false;
    connect(&box, &DBox::submit, this, [] { qDebug() << "Dialog closed"; });
    connect(&box, &DBox::cancel, this, [&resend] { resend = true; });
    box.exec();
    if (!resend)
        return;
    if (m_watcher) {
        // The finished action is still being wound up: resend right after it.
        connect(m_watcher, &QFutureWatcher<void>::finished, this, &LoginPage::startAction, Qt::QueuedConnection);
        return;
    }
    startAction();
}

void LoginPage::on_btnForgotPassword_pressed()
{
    if (m_mode == SignIn)
        m_mode = ResetPassword;
    updateLoginWidgets();
}

void LoginPage::on_btnSignup_pressed()
{
    m_editPassword->clear();
    m_editUsername->clear();
    m_editConfirmPassword->clear();
    m_mode = m_mode == SignIn ? SignUp : SignIn;
    updateLoginWidgets();
}

void LoginPage::backToLogin()
{
    if (m_mode == SignUp)
        m_mode = SignIn;
    updateLoginWidgets();
}

void LoginPage::onConfigUpdated()
{
    // A running action learns the outcome through its own wait and keeps the page busy
    // until it has finished.
    qDebug() << "✅ Configuration updated successfully";
}

void LoginPage::onConfigUpdateFailed()
{
    // The waiting action reports this failure itself, with one message.
    qCritical() << "❌ Configuration update failed";
}

void LoginPage::onConfigFetchCompleted()
{
    qDebug() << "🏁 Configuration fetch completed";
}

} // namespace Tavrix
