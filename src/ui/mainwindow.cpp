#include "ui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "api/apimanager.h"
#include "common/config.h"
#include "common/fileopeneventfilter.h"
#include "common/loginlink.h"
#include "common/user.h"
#include "log/logger.h"
#include "platform/notifications.h"
#include "platform/paths.h"
#include "protection/killswitch.h"
#include "protection/splittunnelcontrol.h"
#include "ui/autologinpage.h"
#include "ui/brand.h"
#include "ui/dbox.h"
#include "ui/loginpage.h"
#include "ui/msgbox.h"
#include "ui/serverpage.h"
#include "ui/servers/serverselectionpage.h"

namespace Tavrix {

namespace {
// How long a quit from the tray waits for the tunnel to report that it is down.
constexpr int quitDisconnectTimeoutMs = 15000;

void appLog(const QString &text)
{
    Logger::instance()->log(text, 1, 4);
}
} // namespace

MainWindow::MainWindow(const QString &startedFromLink, QWidget *parent)
    : QWidget(parent)
{
    buildForm();
    m_apiManager = std::make_unique<APIManager>();
    setWindowTitle(tr("TavrixVPN"));

    setupTray();

    if (startedFromLink == QLatin1String("Yes")) {
        qDebug() << "start auto login";
        Config::setJsonData(QString());
    }

    // Nothing runs before this window exists, so no tunnel can be up: a connection state
    // left behind by a crash would otherwise ask "disconnect?" for a tunnel that is gone.
    auto config = Config::instance();
    config->load();
    if (config->connectionState()) {
        qWarning() << "Clearing a stale connection state from the last run";
        config->setConnectionState(false);
        config->save();
    }

    makeConnections();
    m_fileOpenFilter = new FileOpenEventFilter(this);
    qApp->installEventFilter(m_fileOpenFilter);
    connect(m_fileOpenFilter, &FileOpenEventFilter::urlOpened, this, &MainWindow::handleUrlOpened);
    connect(m_fileOpenFilter, &FileOpenEventFilter::fileOpened, this, &MainWindow::handleFileOpened);

    startDecision();
}

MainWindow::~MainWindow()
{
    if (m_fileOpenFilter)
        qApp->removeEventFilter(m_fileOpenFilter);
}

void MainWindow::buildForm()
{
    setObjectName(QStringLiteral("Tavrix__MainWindow"));
    resize(768, 400);
    setMaximumHeight(400);
    setFocusPolicy(Qt::StrongFocus);
    setWindowIcon(QIcon(QStringLiteral(":/flags/flags/flag_antarctica.png")));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("stackedWidget"));
    layout->addWidget(m_stack);

    m_autoLoginPage = new AutoLoginPage(m_stack);
    m_autoLoginPage->setObjectName(QStringLiteral("autoLoginPage"));
    m_serverSelectionPage = new ServerSelectionPage(m_stack);
    m_serverSelectionPage->setObjectName(QStringLiteral("serverSelectionPage"));
    m_loginPage = new LoginPage(m_stack);
    m_loginPage->setObjectName(QStringLiteral("loginPage"));
    m_serverPage = new ServerPage(m_stack);
    m_serverPage->setObjectName(QStringLiteral("serverPage"));
    m_stack->addWidget(m_autoLoginPage);
    m_stack->addWidget(m_serverSelectionPage);
    m_stack->addWidget(m_loginPage);
    m_stack->addWidget(m_serverPage);
    m_stack->setCurrentIndex(AutoLoginPageIndex);

    changeBackground(OpenConnectConnection::IDLE);
}

void MainWindow::setupTray()
{
    // The menu exists either way, so that its actions behave the same with or without a
    // system tray to show them in.
    m_trayMenu = new QMenu(this);
    m_connectAction = m_trayMenu->addAction(tr("Connect"));
    m_connectAction->setObjectName(QStringLiteral("trayConnectAction"));
    m_quitAction = m_trayMenu->addAction(tr("Quit"));
    m_quitAction->setObjectName(QStringLiteral("trayQuitAction"));
    connect(m_connectAction, &QAction::triggered, this, &MainWindow::onTrayConnectTriggered);
    connect(m_quitAction, &QAction::triggered, this, &MainWindow::onTrayQuitTriggered);
    // Without a desktop notification service, notifications become the tray's balloons.
    QPointer<MainWindow> window(this);
    Notifications::setFallback([window](const QString &title, const QString &text) {
        if (window && window->m_trayIcon)
            window->m_trayIcon->showMessage(title, text, QSystemTrayIcon::Information, 3000);
    });

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        appLog(QStringLiteral("System doesn't support tray icon"));
        return;
    }
    m_trayIcon = new QSystemTrayIcon(this);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::onTrayActivated);
    m_trayIcon->setContextMenu(m_trayMenu);
    QIcon icon(QStringLiteral(":/assets/logo.png"));
    icon.setIsMask(true);
    m_trayIcon->setIcon(icon);
    m_trayIcon->setToolTip(tr("TavrixVPN: not connected"));
    m_trayIcon->setVisible(true);
}

void MainWindow::onTrayConnectTriggered()
{
    if (Config::instance()->autoLogin())
        emit connectClick();
}

void MainWindow::onTrayQuitTriggered()
{
    if (m_lastStatus != OpenConnectConnection::CONNECTED) {
        QCoreApplication::quit();
        return;
    }
    if (m_quitRequested)
        return;
    m_quitRequested = true;
    // Quits as soon as the tunnel reports it is down. The user asked to quit, so the tunnel
    // is taken down here; the kill switch stays as the user set it. A stop that never
    // reports back must not keep the program from ending.
    connect(this, &MainWindow::readyToShutdown, qApp, &QCoreApplication::quit);
    QTimer::singleShot(quitDisconnectTimeoutMs, qApp, [] {
        qWarning() << "The tunnel did not report its end in time; quitting anyway.";
        QCoreApplication::quit();
    });
    OpenConnectConnection::instance()->disconnectVpn();
}

void MainWindow::onTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    // Also brings back a window minimised by the social sign-in or by the user.
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::makeConnections()
{
    connect(m_autoLoginPage, &AutoLoginPage::loginSuccessfull, this, &MainWindow::onLoginSuccessfull);
    connect(m_autoLoginPage, &AutoLoginPage::loginFailed, this, &MainWindow::onLoginFailed);
    connect(m_autoLoginPage, &AutoLoginPage::apiManagerSuccess, this, &MainWindow::setLoginWoindow);
    connect(m_autoLoginPage, &AutoLoginPage::apiManagerFailed, this, &MainWindow::setLoginWoindow);
    connect(m_loginPage, &LoginPage::loginSuccessfull, this, &MainWindow::onLoginSuccessfull);
    connect(m_loginPage, &LoginPage::googleButtonClicked, this, &QWidget::showMinimized);
    connect(m_loginPage, &LoginPage::retryServiceClicked, this, &MainWindow::retryServiceConfiguration);
    auto connection = OpenConnectConnection::instance();
    connect(connection.get(), &OpenConnectConnection::statusChanged, this, &MainWindow::onStatusChanged);
    connect(connection.get(), &OpenConnectConnection::statusChanged, this, &MainWindow::changeBackground);
    connect(connection.get(), &OpenConnectConnection::reconnectingChanged, this, &MainWindow::onReconnectingChanged);
    connect(connection.get(), &OpenConnectConnection::reconnectGaveUp, this, &MainWindow::onReconnectGaveUp);
    connect(m_serverSelectionPage, &ServerSelectionPage::connectUiAndConnect, this, &MainWindow::onConnectUiAndConnect);
    connect(m_serverPage, &ServerPage::logout, this, &MainWindow::onLogout);
    connect(this, &MainWindow::connectClick, m_serverPage, &ServerPage::connectButtonClick);
    connect(m_serverPage, &ServerPage::refreshLogin, this, &MainWindow::refresh);
}

void MainWindow::startDecision()
{
    auto config = Config::instance();
    config->load();
    qDebug() << "is auto liggedin::" << (config->autoLogin() ? "true" : "false");
    if (config->autoLogin()) {
        qDebug() << "auto login started::::";
        showPage(AutoLoginPageIndex);
        return;
    }
    qDebug() << "no auto login::::";
    const QString loginUrl = Config::loginUrl();
    appLog(loginUrl.isEmpty() ? QStringLiteral("Login URL not found in settings")
                              : QStringLiteral("Login URL: %1").arg(loginUrl));
    if (!loginUrl.isEmpty()) {
        showPage(LoginPageIndex);
        return;
    }
    if (!m_fetchConnected) {
        connect(m_apiManager.get(), &APIManager::fetchCompleted, this, &MainWindow::onApiFetchFinished);
        m_fetchConnected = true;
    }
    // Fetched once the window is up: without a network the sources take many seconds to
    // give up, and the user must see the client start meanwhile.
    m_startFetchPending = true;
    QTimer::singleShot(0, this, &MainWindow::runStartFetch);
}

void MainWindow::runStartFetch()
{
    if (!m_startFetchPending)
        return;
    m_autoLoginPage->setWaiting(true);
    m_apiManager->fetchAllDefaultConfig();
    // A fetch already running elsewhere makes this one return at once without an answer;
    // the sign-in page then waits for the configuration itself.
    if (m_startFetchPending)
        onApiFetchFinished();
}

bool MainWindow::startDecisionPending() const
{
    // Later answers of the configuration services (the six-hourly refresh, a fetch started
    // by another page) must not move a user who is already past the first page; neither
    // may they interrupt an automatic sign-in, which reports its own outcome.
    return m_stack->currentIndex() == AutoLoginPageIndex && !m_signedIn && !m_autoLoginPage->isSigningIn();
}

bool MainWindow::isSigningIn() const
{
    return !m_signedIn && (m_stack->currentIndex() == AutoLoginPageIndex || m_loginPage->isBusy());
}

void MainWindow::showPage(int index)
{
    m_stack->setCurrentIndex(index);
}

void MainWindow::onStatusChanged(int state)
{
    m_lastStatus = state;
    // A quit asked for while connected waits for this, with or without a tray.
    if (state == OpenConnectConnection::IDLE)
        emit readyToShutdown();
    const bool reconnected = m_wasReconnecting && state == OpenConnectConnection::CONNECTED;
    if (state == OpenConnectConnection::IDLE || state == OpenConnectConnection::CONNECTED)
        m_wasReconnecting = false;
    if (!m_connectAction || !m_trayIcon) {
        // Many desktops have no tray: told once, not at every status change.
        if (!m_noTrayTold)
            qWarning() << "Error: m_connectAction or m_trayIcon is not initialized!";
        m_noTrayTold = true;
        return;
    }
    switch (state) {
    case OpenConnectConnection::IDLE:
        m_connectAction->setText(tr("Connect"));
        showTrayState(state);
        break;
    case OpenConnectConnection::CONNECTING:
        showTrayState(state);
        break;
    case OpenConnectConnection::CONNECTED: {
        m_connectAction->setText(tr("Disconnect"));
        showTrayState(state);
        const auto bundle = User::instance()->activeBundle();
        const QString name = bundle ? bundle->ipName() : QString();
        Notifications::show(tr("TavrixVPN"),
                            reconnected ? tr("Reconnected to ") + name : tr("You are connected to ") + name);
        break;
    }
    default:
        qWarning() << "Unknown state:" << state;
        break;
    }
}

void MainWindow::onReconnectingChanged(bool reconnecting)
{
    if (!reconnecting)
        return;
    m_wasReconnecting = true;
    showTrayState(OpenConnectConnection::CONNECTING);
    Notifications::show(tr("TavrixVPN"), tr("The VPN connection was lost. Reconnecting..."));
}

void MainWindow::onReconnectGaveUp(const QString &message)
{
    Notifications::show(tr("TavrixVPN"), message);
}

void MainWindow::showTrayState(int state)
{
    if (!m_trayIcon)
        return;
    const bool reconnecting = OpenConnectConnection::instance()->isReconnecting();
    const QPixmap picture = trayPicture(reconnecting);
    m_trayIcon->setIcon(picture.isNull() ? QIcon(QStringLiteral(":/assets/200.png")) : QIcon(picture));
    m_trayIcon->setToolTip(trayTip(state, reconnecting));
}

QString MainWindow::trayTip(int state, bool reconnecting)
{
    switch (state) {
    case OpenConnectConnection::CONNECTED:
        return tr("TavrixVPN: protected");
    case OpenConnectConnection::CONNECTING:
        return reconnecting ? tr("TavrixVPN: connection lost, reconnecting...") : tr("TavrixVPN: connecting...");
    default:
        return tr("TavrixVPN: not connected");
    }
}

QPixmap MainWindow::trayPicture(bool reconnecting)
{
    QPixmap picture(QStringLiteral(":/assets/200.png"));
    if (reconnecting && !picture.isNull()) {
        // An amber dot in the corner: the tunnel is not carrying traffic right now.
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        const int side = picture.width() * 2 / 5;
        painter.setPen(QPen(Qt::white, qMax(1, side / 8)));
        painter.setBrush(QColor(0xf0, 0x9a, 0x00));
        painter.drawEllipse(picture.width() - side - 1, picture.height() - side - 1, side, side);
    }
    return picture;
}

void MainWindow::changeBackground(OpenConnectConnection::Status status)
{
    m_background = status;
    const QString path = status == OpenConnectConnection::CONNECTED ? QStringLiteral(":/assets/background.png")
                                                                    : QStringLiteral(":/assets/white_background.png");
    QPalette palette = this->palette();
    const QPixmap picture = Brand::uncachedPixmap(path);
    const QBrush brush = picture.isNull()
                             ? QBrush(Qt::white)
                             : QBrush(picture.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    palette.setBrush(QPalette::All, QPalette::Window, brush);
    setPalette(palette);
    setAutoFillBackground(true);
    update();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    changeBackground(m_background);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    auto config = Config::instance();
    if (!config->connectionState()) {
        event->accept();
        return;
    }
    DBox box(this);
    box.setSubmitText(QStringLiteral("Yes"));
    box.setCancelText(QStringLiteral("No"));
    box.setTitle(QStringLiteral("Are you sure you want to disconnect?"));
    bool disconnect = false;
    connect(&box, &DBox::submit, this, [&disconnect] { disconnect = true; });
    box.exec();
    if (!disconnect) {
        event->ignore();
        return;
    }
    OpenConnectConnection::instance()->disconnectVpn();
    event->accept();
}

void MainWindow::onLogout()
{
    auto *box = new DBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setSubmitText(QStringLiteral("Yes"));
    box->setCancelText(QStringLiteral("No"));
    box->setTitle(QStringLiteral("Would you like to log out?"));
    connect(box, &DBox::submit, this, &MainWindow::refresh);
    box->exec();
}

void MainWindow::refresh()
{
    auto config = Config::instance();
    config->load();
    if (config->connectionState())
        OpenConnectConnection::instance()->disconnectVpn();

    config->setAutoLogin(false);
    config->setAutoConncet(false);
    config->save();

    Config::setJsonData(QString());
    Config::setUserDefault(QStringLiteral("adminPassword"), QString());
    Config::saveState(0, 0);

    const bool killSwitchWasOn = config->killSwitch();
    config->setKillSwitch(false);
    config->save();

    m_signedIn = false;
    showPage(LoginPageIndex);
    deleteBannerImages();
    // The firewall must not keep blocking a machine whose user has signed out, and the status
    // file must not keep saying ON for a feature that is now off.
    if (killSwitchWasOn) {
        KillSwitch::writeStatusFile(false);
        KillSwitch::queueStage(KillSwitch::Stage::Idle);
    }
    // Nor may any application of the signed-out account keep bypassing the tunnel (stopped
    // off the window's thread; quit waits for it).
    SplitTunnelControl::shutdownAsync();

    startDecision();
}

void MainWindow::deleteBannerImages()
{
    QDir folder(bannerFolder());
    const QFileInfoList files = folder.entryInfoList({QStringLiteral("banner_*.png")}, QDir::Files, QDir::NoSort);
    for (const QFileInfo &file : files) {
        const QString path = file.absoluteFilePath();
        if (QFile::remove(path))
            qDebug() << "Deleted:" << path;
        else
            qWarning() << "Failed to delete:" << path;
    }
}

void MainWindow::onLoginSuccessfull()
{
    m_signedIn = true;
    m_serverPage->restorePanels();
    showPage(ServerPageIndex);
    Brand::releasePlainBackground();
}

void MainWindow::onLoginFailed()
{
    // Before the first configuration the automatic page has nothing to sign in with: the
    // fetch decides when the sign-in page comes.
    if (m_startFetchPending)
        return;
    showPage(LoginPageIndex);
}

void MainWindow::setLoginWoindow()
{
    if (startDecisionPending())
        showPage(LoginPageIndex);
}

void MainWindow::onApiFetchFinished()
{
    if (m_startFetchPending) {
        m_startFetchPending = false;
        m_autoLoginPage->setWaiting(false);
        reportServiceState();
    }
    if (startDecisionPending())
        showPage(LoginPageIndex);
}

void MainWindow::retryServiceConfiguration()
{
    m_loginPage->setServiceState(LoginPage::ServiceConnecting);
    // Returns at once when another fetch runs; reportServiceState waits for that one.
    m_apiManager->fetchAllDefaultConfig();
    reportServiceState();
}

void MainWindow::reportServiceState()
{
    if (APIManager::isFetchInProgress()) {
        m_loginPage->setServiceState(LoginPage::ServiceConnecting);
        QTimer::singleShot(300, this, &MainWindow::reportServiceState);
        return;
    }
    m_loginPage->setServiceState(Config::loginUrl().isEmpty() ? LoginPage::ServiceUnreachable
                                                              : LoginPage::ServiceReachable);
}

void MainWindow::setSplashWoindow()
{
    showPage(ServerSelectionPageIndex);
}

void MainWindow::onConnectUiAndConnect()
{
    qDebug() << "onConnectUiAndConnect";
    showPage(AutoLoginPageIndex);
}

void MainWindow::setWindowHide()
{
    showMinimized();
}

void MainWindow::handleUrlOpened(QString url)
{
    // A login link carries the account password.
    qDebug().noquote() << "URL opened: " + maskLoginLinkSecrets(url);
}

void MainWindow::onLoginLinkReceived(const QString &link)
{
    qDebug().noquote() << "Login link received from another instance";
    if (m_signedIn || m_autoLoginPage->isSigningIn() || m_loginPage->isBusy()) {
        qDebug().noquote() << "Login link ignored: a sign-in is already done or in progress";
        return;
    }
    const LoginLink parsed = parseLoginLink(link);
    if (parsed.kind == LoginLink::Kind::InvalidCredentials) {
        qWarning().noquote() << "Invalid credentials from URL scheme";
        MsgBox::warning(tr("Invalid Login Link"), tr("The login link contains invalid credentials."),
                        tr("Please login manually using the application."));
        return;
    }
    if (parsed.kind != LoginLink::Kind::Valid)
        return;
    qDebug().noquote() << "Valid credentials received, caching for login";
    cacheLoginLinkCredentials(parsed);
    qDebug().noquote() << "Credentials cached successfully";
    // As at a start with a link: the stored reply of an earlier account must not be used.
    Config::setJsonData(QString());
    if (m_stack->currentIndex() == AutoLoginPageIndex)
        m_autoLoginPage->startAgain();
    else
        showPage(AutoLoginPageIndex);
}

void MainWindow::handleFileOpened(QString file)
{
    qDebug() << "File opened: " << file;
}

} // namespace Tavrix
