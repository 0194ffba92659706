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

QLabel *iconLabel(const char *name, const QString &path, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setFixedSize(18, 18);
    label->setScaledContents(true);
    label->setPixmap(QPixmap(path));
    return label;
}

QLineEdit *lineEdit(const char *name, const QString &placeholder, bool secret, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setPlaceholderText(placeholder);
    edit->setStyleSheet(Brand::lineEditStyle());
    Brand::mutePlaceholder(edit);
    if (secret)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

// A rounded input row: optional icon, the field, optional trailing icon.
QFrame *inputRow(const char *name, QWidget *parent)
{
    auto *row = new QFrame(parent);
    row->setObjectName(QLatin1String(name));
    row->setFixedHeight(44);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(16, 0, 16, 0);
    layout->setSpacing(10);
    return row;
}

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

void LoginPage::buildForm()
{
    setObjectName(QStringLiteral("Tavrix__LoginPage"));
    setAttribute(Qt::WA_StyledBackground);

    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(28, 18, 36, 14);
    outer->setSpacing(36);

    m_sideImage = new QLabel(this);
    m_sideImage->setObjectName(QStringLiteral("lblLoginSideImage"));
    m_sideImage->setAlignment(Qt::AlignCenter);
    m_sideImage->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    scaleSideImage(QSize(320, 380));
    // Picture and form stay together in the middle of a large window.
    outer->addStretch(1);
    outer->addWidget(m_sideImage, 0, Qt::AlignVCenter);

    auto *formHolder = new QWidget(this);
    formHolder->setObjectName(QStringLiteral("formWidget"));
    formHolder->setMaximumWidth(440);
    auto *form = new QVBoxLayout(formHolder);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(10);
    outer->addWidget(formHolder, 0, Qt::AlignVCenter);
    outer->addStretch(1);
    m_formHolder = formHolder;

    m_topLabelWidget = new QWidget(formHolder);
    m_topLabelWidget->setObjectName(QStringLiteral("TopLebelWidget"));
    auto *top = new QVBoxLayout(m_topLabelWidget);
    top->setContentsMargins(0, 0, 0, 6);
    m_header = new SignUpLabelButton(m_topLabelWidget);
    m_header->setObjectName(QStringLiteral("signUpLabelButton"));
    top->addWidget(m_header);
    form->addWidget(m_topLabelWidget);

    // Shown only while the service's configuration is being fetched or could not be had.
    m_serviceNotice = new QFrame(formHolder);
    m_serviceNotice->setObjectName(QStringLiteral("serviceNotice"));
    auto *noticeRow = new QHBoxLayout(m_serviceNotice);
    noticeRow->setContentsMargins(12, 6, 8, 6);
    noticeRow->setSpacing(8);
    m_serviceText = new QLabel(m_serviceNotice);
    m_serviceText->setObjectName(QStringLiteral("lblServiceNotice"));
    m_serviceText->setWordWrap(true);
    m_serviceText->setStyleSheet(Brand::labelStyle(12, 500) +
                                 QStringLiteral(" background: transparent; border: none;"));
    m_btnRetry = new QPushButton(QStringLiteral("Retry"), m_serviceNotice);
    m_btnRetry->setObjectName(QStringLiteral("btnRetry"));
    m_btnRetry->setCursor(Qt::PointingHandCursor);
    m_btnRetry->setAutoDefault(false);
    m_btnRetry->setMinimumSize(72, 30);
    m_btnRetry->setStyleSheet(Brand::outlinedButtonStyle());
    noticeRow->addWidget(m_serviceText, 1);
    noticeRow->addWidget(m_btnRetry, 0, Qt::AlignVCenter);
    m_serviceNotice->hide();
    form->addWidget(m_serviceNotice);
    connect(m_btnRetry, &QPushButton::clicked, this, &LoginPage::retryServiceClicked);

    auto *userRow = inputRow("usernameWidget", formHolder);
    userRow->layout()->addWidget(
        iconLabel("lblUsernamePrefixIcon", QStringLiteral(":/assets/icon_profile.png"), userRow));
    m_editUsername = lineEdit("editUsername", QStringLiteral("Your User ID"), false, userRow);
    userRow->layout()->addWidget(m_editUsername);
    form->addWidget(userRow);

    m_passwordWidget = inputRow("passwordWidget", formHolder);
    m_passwordPrefix = iconLabel("editPasswordPrefixIcon", QStringLiteral(":/assets/key.png"), m_passwordWidget);
    m_editPassword = lineEdit("editPassword", QStringLiteral("Password"), true, m_passwordWidget);
    m_passwordSuffix = iconLabel("lblPasswordSuffixIcon", QStringLiteral(":/assets/show.png"), m_passwordWidget);
    m_passwordSuffix->setCursor(Qt::PointingHandCursor);
    m_passwordSuffix->setToolTip(QStringLiteral("Hold to show the password"));
    m_passwordWidget->layout()->addWidget(m_passwordPrefix);
    m_passwordWidget->layout()->addWidget(m_editPassword);
    m_passwordWidget->layout()->addWidget(m_passwordSuffix);
    form->addWidget(m_passwordWidget);

    m_confirmPasswordWidget = inputRow("confirmPasswordWidget", formHolder);
    m_confirmPrefix =
        iconLabel("lblConfirmPasswordPrefixIcon", QStringLiteral(":/assets/key.png"), m_confirmPasswordWidget);
    m_editConfirmPassword =
        lineEdit("editConfirmPassword", QStringLiteral("Confirm Password"), true, m_confirmPasswordWidget);
    m_confirmSuffix =
        iconLabel("lblPasswordSuffixIcon_2", QStringLiteral(":/assets/show.png"), m_confirmPasswordWidget);
    m_confirmSuffix->setCursor(Qt::PointingHandCursor);
    m_confirmSuffix->setToolTip(QStringLiteral("Hold to show the password"));
    m_confirmPasswordWidget->layout()->addWidget(m_confirmPrefix);
    m_confirmPasswordWidget->layout()->addWidget(m_editConfirmPassword);
    m_confirmPasswordWidget->layout()->addWidget(m_confirmSuffix);
    form->addWidget(m_confirmPasswordWidget);

    auto *divider = new QLabel(formHolder);
    divider->setObjectName(QStringLiteral("lblDivder"));
    divider->setFixedHeight(1);
    m_divider = divider;
    form->addWidget(m_divider);

    m_subscriptionCodeWidget = inputRow("subscriptionCodeWidget", formHolder);
    m_editSubscription =
        lineEdit("editSubscription", QStringLiteral("Subscription Code (Optional)"), false, m_subscriptionCodeWidget);
    // Lines the text up with the fields that have an icon.
    m_subscriptionCodeWidget->layout()->setContentsMargins(44, 0, 16, 0);
    m_subscriptionCodeWidget->layout()->addWidget(m_editSubscription);
    form->addWidget(m_subscriptionCodeWidget);

    m_cbUserConsent =
        new QCheckBox(QStringLiteral("Yes, please keep me updated on Tavrix VPN's latest offer"), formHolder);
    m_cbUserConsent->setObjectName(QStringLiteral("cbUserConsent"));
    m_cbUserConsent->setCursor(Qt::PointingHandCursor);
    form->addWidget(m_cbUserConsent);

    m_btnForgotPassword = new QPushButton(QStringLiteral("Forget your password?"), formHolder);
    m_btnForgotPassword->setObjectName(QStringLiteral("btnForgotPassword"));
    m_btnForgotPassword->setCursor(Qt::PointingHandCursor);
    m_btnForgotPassword->setFlat(true);
    m_btnForgotPassword->setAutoDefault(false);
    m_btnForgotPassword->setStyleSheet(Brand::linkButtonStyle());
    form->addWidget(m_btnForgotPassword, 0, Qt::AlignRight);

    m_btnLogin = new QPushButton(formHolder);
    m_btnLogin->setObjectName(QStringLiteral("btnLogin"));
    m_btnLogin->setCursor(Qt::PointingHandCursor);
    m_btnLogin->setAutoDefault(false);
    m_btnLogin->setMinimumHeight(44);
    m_btnLogin->setStyleSheet(Brand::filledButtonStyle().replace(QStringLiteral("border-radius: 19px"),
                                                                 QStringLiteral("border-radius: 22px")));
    form->addWidget(m_btnLogin);

    m_socalAuth = new QWidget(formHolder);
    m_socalAuth->setObjectName(QStringLiteral("socalAuth"));
    auto *social = new QVBoxLayout(m_socalAuth);
    social->setContentsMargins(0, 2, 0, 0);
    social->setSpacing(8);
    auto *orRow = new QHBoxLayout;
    auto lineLeft = new QFrame(m_socalAuth);
    auto lineRight = new QFrame(m_socalAuth);
    for (QFrame *line : {lineLeft, lineRight}) {
        line->setFixedHeight(1);
        line->setProperty("role", QStringLiteral("orLine"));
    }
    auto *orLabel = new QLabel(QStringLiteral("OR"), m_socalAuth);
    orLabel->setObjectName(QStringLiteral("lblOr"));
    orLabel->setStyleSheet(Brand::labelStyle(12, 600, Brand::mutedText));
    orRow->addWidget(lineLeft, 1);
    orRow->addWidget(orLabel);
    orRow->addWidget(lineRight, 1);
    social->addLayout(orRow);
    m_google = new GoogleAuthButton(m_socalAuth);
    m_google->setObjectName(QStringLiteral("googlSignInButton"));
    m_apple = new AppleAuthButton(m_socalAuth);
    m_apple->setObjectName(QStringLiteral("appleSignInButton"));
    m_signUpButton = new SignUpGmailButton(m_socalAuth);
    m_signUpButton->setObjectName(QStringLiteral("SignUpButton"));
    social->addWidget(m_google);
    social->addWidget(m_apple);
    social->addWidget(m_signUpButton);
    form->addWidget(m_socalAuth);

    m_appVersion = new QLabel(QStringLiteral("Version: ") + QCoreApplication::applicationVersion(), formHolder);
    m_appVersion->setObjectName(QStringLiteral("appVersion"));
    m_appVersion->setAlignment(Qt::AlignCenter);
    m_appVersion->setStyleSheet(Brand::labelStyle(11, 500, Brand::mutedText));
    form->addWidget(m_appVersion);

    m_passwordSuffix->installEventFilter(this);
    m_confirmSuffix->installEventFilter(this);
}

void LoginPage::setServiceState(ServiceState state)
{
    m_serviceState = state;
    switch (state) {
    case ServiceReachable:
        m_serviceNotice->hide();
        return;
    case ServiceConnecting:
        m_serviceText->setText(QStringLiteral("Connecting to the service…"));
        m_btnRetry->hide();
        break;
    case ServiceUnreachable:
        m_serviceText->setText(QStringLiteral("Could not reach the service. Check your internet connection."));
        m_btnRetry->show();
        break;
    }
    m_serviceNotice->show();
}

void LoginPage::scaleSideImage(const QSize &box)
{
    const QPixmap picture(QStringLiteral(":/assets/loginSideImage.png"));
    if (picture.isNull())
        return;
    m_sideImage->setPixmap(picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_sideImage->setFixedSize(m_sideImage->pixmap(Qt::ReturnByValue).size());
}

void LoginPage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The picture gives way to the form on small windows: the form keeps about 440 px.
    const QMargins margins = layout()->contentsMargins();
    const int spare = width() - margins.left() - margins.right() - layout()->spacing() - 440;
    const int imageWidth = qMin(320, spare);
    const int room = width() - margins.left() - margins.right();
    if (imageWidth < 160) {
        m_sideImage->hide();
        m_formHolder->setFixedWidth(qBound(200, room, 440));
        return;
    }
    const int imageHeight = qMin(imageWidth * 380 / 320, height() - margins.top() - margins.bottom());
    scaleSideImage(QSize(imageWidth, imageHeight));
    m_sideImage->show();
    m_formHolder->setFixedWidth(qBound(200, room - m_sideImage->width() - layout()->spacing(), 440));
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
