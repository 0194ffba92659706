#include "ui/servers/connectpage.h"

#include <QConicalGradient>
#include <QDebug>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <algorithm>

#include "api/apirequest.h"
#include "common/config.h"
#include "common/user.h"
#include "platform/privileges.h"
#include "protection/crashrecovery.h"
#include "protection/killswitch.h"
#include "protection/killswitchfirewall.h"
#include "ui/accessibility.h"
#include "ui/account/homeimage.h"
#include "ui/brand.h"
#include "ui/dbox.h"
#include "ui/servers/fastestserverbutton.h"
#include "ui/servers/gammingserverbutton.h"
#include "ui/servers/serverbutton.h"
#include "ui/servers/serverbuttoncustomwidget.h"
#include "ui/servers/statsindicator.h"
#include "ui/servers/streamingserverbutton.h"
#include "vpn/openconnectserver.h"

namespace Tavrix {

namespace {

const QColor kBrandRed(191, 30, 46);
const char *const kPlaceholderAddress = "8.8.8.8";

QLabel *makeLabel(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    return label;
}

// The banner's full size, and its largest height on a short page.
const QSize kBannerSize(540, 100);
constexpr int kShortPageBannerHeight = 56;

QPixmap scaledPicture(const QString &path)
{
    return QPixmap(path).scaledToHeight(30, Qt::SmoothTransformation);
}

} // namespace

ConnectPage::ConnectPage(QWidget *parent, Role role)
    : QWidget(parent)
    , m_role(role)
{
    setObjectName(QStringLiteral("connectPage"));
    if (m_role == Role::Detached)
        return;

    m_api = ApiRequest::instance();
    // An account request object of the connect step's thread's own: the shared one belongs to
    // the GUI thread, whose calls may run at the same time.
    OpenConnectConnection::instance()->setWireGuardConfigFetch([](int vpnServerId, int ipId, int connectionType) {
        const QString configuration = ApiRequest().wireGuardConfig(vpnServerId, ipId, connectionType);
        // Its endpoint is the server the tunnel dials: the kill switch lets it through first.
        KillSwitch::admitVpnConfiguration(OpenConnectConnection::WIREGUARD, configuration);
        return configuration;
    });
    buildUi();

    m_statsTimer.setInterval(1500);
    m_animationTimer.setInterval(10);
    connect(&m_statsTimer, &QTimer::timeout, this, &ConnectPage::onStatsTimeout);
    connect(&m_animationTimer, &QTimer::timeout, this, &ConnectPage::onAnimationTimeout);
    connect(&m_ipLookup, &QFutureWatcher<QString>::finished, this, &ConnectPage::onPublicIpFound);
    connect(m_btnConnect, &QPushButton::pressed, this, &ConnectPage::btnConnect_clicked);
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &ConnectPage::onStatusChanged);
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::connectFailed, this,
            &ConnectPage::onConnectFailed);
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::serverKeyChanged, this,
            &ConnectPage::onServerKeyChanged);
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::reconnectGaveUp, this,
            &ConnectPage::onReconnectGaveUp);

    connect(m_serverSelectWidget, &ServerButton::clicked, this, &ConnectPage::requestServerSelection);
    connect(m_fastServer, &FastestServerButton::fastestServerClicked, this, &ConnectPage::ConnectToFastestServer);
    connect(m_gammingServer, &GammingServerButton::GammingServerClicked, this, &ConnectPage::connectToGammingServer);
    connect(m_stremmingServer, &StreamingServerButton::StreamingServerButtonClicked, this,
            &ConnectPage::connectToStreamingServer);

    setServerButton();
    showProtection(false);
}

ConnectPage::~ConnectPage() = default;

bool ConnectPage::eventFilter(QObject *watched, QEvent *event)
{
    // Start-up installs one of these on the application; every event passes on.
    return QWidget::eventFilter(watched, event);
}

void ConnectPage::buildUi()
{
    m_homeImageWidget = new QWidget(this);
    m_homeImageWidget->setObjectName(QStringLiteral("homeImageWidget"));
    auto *bannerLayout = new QVBoxLayout(m_homeImageWidget);
    bannerLayout->setContentsMargins(0, 0, 0, 0);
    bannerLayout->addWidget(new HomeImage(m_homeImageWidget));

    m_btnConnect = new QPushButton(this);
    m_btnConnect->setObjectName(QStringLiteral("btnConnect"));
    m_btnConnect->setIcon(QIcon(QStringLiteral(":/assets/disconnected.png")));
    m_btnConnect->setIconSize(QSize(130, 130));
    // Four pixels wider than tall, so that the status ring sits centred around it.
    m_btnConnect->setFixedSize(144, 140);
    m_btnConnect->setCursor(Qt::PointingHandCursor);
    m_btnConnect->setFlat(true);
    m_btnConnect->setAccessibleName(QStringLiteral("Connect"));
    Accessibility::makeClickable(m_btnConnect, QStringLiteral("Connect"));

    m_lblProtectedLogo = makeLabel(QStringLiteral("lblProtectedLogo"), this);
    m_lblProtectedText = makeLabel(QStringLiteral("lblProtectedText"), this);
    // Screen readers say the status line when it changes.
    m_lblProtectedText->setAccessibleDescription(QStringLiteral("Protection status"));
    m_lblIPLogo = makeLabel(QStringLiteral("lblIPLogo"), this);
    m_lblSelectionIp = makeLabel(QStringLiteral("lblSelectionIp"), this);
    m_lblSelectionIp->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_serverSelectWidget = new ServerButton(this);

    m_serverButton = new ServerButtonCustomWidget(this);
    m_serverButton->setObjectName(QStringLiteral("serverButton"));
    m_fastServer = new FastestServerButton(m_serverButton);
    m_stremmingServer = new StreamingServerButton(m_serverButton);
    m_gammingServer = new GammingServerButton(m_serverButton);
    auto *quickRow = new QHBoxLayout(m_serverButton);
    quickRow->setContentsMargins(0, 0, 0, 0);
    quickRow->setSpacing(8);
    quickRow->addWidget(m_fastServer);
    quickRow->addWidget(m_stremmingServer);
    quickRow->addWidget(m_gammingServer);

    m_statsWidget = new StatsIndicator(this);
    // Hidden while not connected, but the layout keeps its place so nothing jumps.
    QSizePolicy keep = m_statsWidget->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_statsWidget->setSizePolicy(keep);
    m_statsWidget->hide();

    m_lblVersion = makeLabel(QStringLiteral("lblVersion"), this);
    m_lblVersion->setText(QStringLiteral("Version: 2.0"));
    m_lblVersion->setAlignment(Qt::AlignCenter);

    auto *protectedRow = new QHBoxLayout;
    protectedRow->setSpacing(8);
    protectedRow->addStretch();
    protectedRow->addWidget(m_lblProtectedLogo);
    protectedRow->addWidget(m_lblProtectedText);
    protectedRow->addStretch();

    auto *ipRow = new QHBoxLayout;
    ipRow->setSpacing(8);
    ipRow->addStretch();
    ipRow->addWidget(m_lblIPLogo);
    ipRow->addWidget(m_lblSelectionIp);
    ipRow->addStretch();

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_btnConnect);
    buttonRow->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 10);
    layout->setSpacing(10);
    layout->addWidget(m_homeImageWidget);
    layout->addStretch(1);
    layout->addLayout(buttonRow);
    layout->addSpacing(8);
    layout->addLayout(protectedRow);
    layout->addLayout(ipRow);
    layout->addStretch(1);
    layout->addWidget(m_serverSelectWidget);
    layout->addWidget(m_serverButton);
    layout->addWidget(m_statsWidget);
    layout->addWidget(m_lblVersion);
}

void ConnectPage::requestConnect(bool switchServer)
{
    if (switchServer && m_pageStatus != OpenConnectConnection::IDLE)
        m_reconnectPending = true;
    btnConnect_clicked();
}

void ConnectPage::rearmAutoConnect()
{
    if (m_fastServer)
        m_fastServer->rearmAutoConnect();
}

void ConnectPage::btnConnect_clicked()
{
    // A press while the firewall is being opened for a connect would start a second one.
    if (m_role == Role::Detached || m_firewallOpening)
        return;
    auto controller = OpenConnectConnection::instance();
    if (m_pageStatus != OpenConnectConnection::IDLE) {
        auto config = Config::instance();
        config->load();
        // The firewall scripts: the block lets the tunnel's devices through, so it goes in before
        // the tunnel goes, and nothing leaves in the clear between the routes' removal and the
        // block (IDLE applies it once more). The helper's table needs no such step: its tunnel
        // state already holds everything else back.
        if (config->killSwitch() && !KillSwitch::usesHelper()) {
            m_firewallOpening = true;
            KillSwitch::queueStage(KillSwitch::Stage::Idle, this, [this](bool, const QString &) {
                m_firewallOpening = false;
                OpenConnectConnection::instance()->disconnectVpn();
            });
            return;
        }
        controller->disconnectVpn();
        return;
    }
    // The start-up clean-up stops engines and takes tunnels and firewall rules down: a tunnel
    // started beside it would be taken along.
    if (CrashRecovery::isRunning()) {
        qDebug() << "Connect waits for the start-up clean-up";
        m_firewallOpening = true;
        CrashRecovery::whenDone(this, [this] {
            m_firewallOpening = false;
            btnConnect_clicked();
        });
        return;
    }

    const IPBundlePtr bundle = User::instance()->activeBundle();
    if (!bundle) {
        showMessage(QStringLiteral("Empty Server!"), QStringLiteral("OK"));
        return;
    }
    const QString ip = bundle->ip();
    const QString serverConfig = bundle->config();
    const int type = bundle->type();
    if (ip.isEmpty() || (type == OpenConnectConnection::OPENVPN && serverConfig.isEmpty()))
        return;
    if (ip == QLatin1String(kPlaceholderAddress)) {
        offerUpgrade();
        return;
    }

    auto config = Config::instance();
    config->setLastServerType(type);
    // Outline reads the same Shadowsocks values; without them it would start with the last
    // Shadowsocks server's (or none at all).
    if (type == OpenConnectConnection::XRAY_SHADOWSOCKS || type == OpenConnectConnection::OUTLINE) {
        config->setShadowsocksConfig(serverConfig);
        config->setShadowsocksAddress(ip);
    }
    config->setActiveServer(bundle->ip_id());
    controller->setType(type);
    controller->setConfig(serverConfig, ip);
    config->save();
    if (auto server = controller->getServer()) {
        qDebug() << "server:::" << ip;
        server->setHost(ip);
    } else {
        controller->setServer(std::make_shared<OpenConnectServer>(ip));
    }
    // The pin belongs to this entry: one of another server must never carry over.
    controller->getServer()->setPin(bundle->pin());

    config->load();
    // Without the privilege nothing may half-start: not even the firewall reset.
    if (OpenConnectConnection::needsNetworkPrivilege(type) && !Privileges::canManageNetwork()) {
        showMessage(Privileges::missingMessage(), QStringLiteral("Ok"));
        return;
    }
    KillSwitchFirewall::setVpnTarget(type, serverConfig, ip);
    if (config->killSwitch()) {
        // The engine may only dial out once the firewall lets it reach the server (the helper's
        // table stays closed to all else; the scripts open it); the window keeps answering
        // meanwhile.
        m_firewallOpening = true;
        KillSwitch::queueStage(KillSwitch::Stage::Connecting, this, [this](bool ok, const QString &error) {
            m_firewallOpening = false;
            if (!ok) {
                showMessage(QStringLiteral("The kill switch could not let the connection through: ") + error,
                            QStringLiteral("Ok"));
                return;
            }
            startController();
        });
        return;
    }
    startController();
}

void ConnectPage::startController()
{
    auto controller = OpenConnectConnection::instance();
    switch (controller->connect()) {
    case OpenConnectConnection::ALREADY_ACTIVE:
        showMessage(QStringLiteral("Connection already active"));
        break;
    case OpenConnectConnection::ALREADY_RUNNING:
        showMessage(QStringLiteral("VPN already running"));
        controller->disconnectVpn();
        break;
    case OpenConnectConnection::INVALID_CREDENTIALS:
        reblockAfterRefusal();
        showMessage(QStringLiteral("Invalid credentials"));
        break;
    case OpenConnectConnection::INVALID_SERVER:
        reblockAfterRefusal();
        showMessage(QStringLiteral("Invalid server"));
        break;
    case OpenConnectConnection::MISSING_PRIVILEGE:
        reblockAfterRefusal();
        showMessage(Privileges::missingMessage(), QStringLiteral("Ok"));
        break;
    default:
        break;
    }
}

// A refused connect never starts a session, so no IDLE follows to close the firewall that was
// opened for it: close it here.
void ConnectPage::reblockAfterRefusal()
{
    auto config = Config::instance();
    config->load();
    if (config->killSwitch())
        KillSwitch::queueStage(KillSwitch::Stage::Idle);
}

void ConnectPage::showMessage(const QString &title, const QString &submitText)
{
    // Before the box: its loop runs until the user answers, and whoever asked for the connect
    // (the command line) must know now.
    emit connectRefused(title);
    auto *box = new DBox(this);
    box->setTitle(title);
    box->setSubmitText(submitText);
    connect(box, &DBox::submit, box, &QDialog::accept);
    box->exec();
    box->deleteLater();
}

void ConnectPage::onConnectFailed(const QString &message)
{
    // Not modal: the status change that goes with it must still reach the page.
    auto *box = new DBox(this);
    box->setObjectName(QStringLiteral("connectFailedBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTitle(QStringLiteral("Connection failed"));
    box->setText(message);
    box->setSubmitText(QStringLiteral("Ok"));
    box->show();
}

void ConnectPage::onReconnectGaveUp(const QString &message)
{
    // Not modal either: IDLE follows, and with it the kill switch's block (when on).
    auto *box = new DBox(this);
    box->setObjectName(QStringLiteral("reconnectGaveUpBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTitle(QStringLiteral("Connection lost"));
    box->setText(message);
    box->setSubmitText(QStringLiteral("Ok"));
    box->show();
}

void ConnectPage::onServerKeyChanged(const QString &server, const QString &storedPin, const QString &offeredPin)
{
    // Not modal, like the failure box: the page keeps following the status meanwhile.
    auto *box = new DBox(this);
    box->setObjectName(QStringLiteral("serverKeyChangedBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTitle(QStringLiteral("The server's identity has changed"));
    // The fingerprints alone, each on a line of its own: a wrapped one is hard to compare.
    const auto fingerprint = [](const QString &pin) { return pin.section(QLatin1Char(':'), -1); };
    box->setText(QStringLiteral("The server %1 presented a different key than at your first connection, so "
                                "nothing was sent to it. Someone may be posing as the server. Trust the new "
                                "key only if you know that the server was changed.\n\nStored key (SHA-256):\n%2\n\n"
                                "New key (SHA-256):\n%3")
                     .arg(server, fingerprint(storedPin), fingerprint(offeredPin)));
    box->setSubmitText(QStringLiteral("Trust new key"));
    box->setCancelText(QStringLiteral("Cancel"));
    connect(box, &DBox::submit, this, [this, box, server, offeredPin] {
        box->accept();
        if (OpenConnectConnection::instance()->trustServerKey(server, offeredPin))
            requestConnect(false);
    });
    connect(box, &DBox::cancel, box, &QDialog::reject);
    box->show();
}

void ConnectPage::offerUpgrade()
{
    emit connectRefused(QStringLiteral("This server needs a premium account."));
    auto *box = new DBox(this);
    box->setSubmitText(QStringLiteral("Yes"));
    box->setCancelText(QStringLiteral("No"));
    box->setTitle(QStringLiteral("You are using free version of Tavrix VPN.\nBuy now to unlock all server?"));
    connect(box, &DBox::submit, this, &ConnectPage::paymentPageRequest);
    connect(box, &DBox::submit, box, &QDialog::accept);
    connect(box, &DBox::cancel, box, &QDialog::reject);
    box->exec();
    box->deleteLater();
}

void ConnectPage::onStatusChanged(OpenConnectConnection::Status status)
{
    switch (status) {
    case OpenConnectConnection::CONNECTING:
        m_pageStatus = OpenConnectConnection::CONNECTING;
        m_btnConnect->setIcon(QIcon(QStringLiteral(":/assets/disconnected.png")));
        // A lost tunnel carries nothing: no live figures until it is back.
        m_statsWidget->hide();
        m_statsTimer.stop();
        m_animationTimer.start();
        break;
    case OpenConnectConnection::IDLE: {
        m_pageStatus = OpenConnectConnection::IDLE;
        m_btnConnect->setIcon(QIcon(QStringLiteral(":/assets/disconnected.png")));
        m_statsWidget->hide();
        m_statsTimer.stop();
        m_animationTimer.stop();
        auto config = Config::instance();
        config->load();
        // Blocked again without ever being open (the helper's table goes from the tunnel's state
        // to the block in one step); with the switch off the helper's IPv6 guard goes.
        if (config->killSwitch() || KillSwitch::usesHelper())
            KillSwitch::queueStage(KillSwitch::Stage::Idle);
        if (m_reconnectPending) {
            m_reconnectPending = false;
            QTimer::singleShot(100, this, &ConnectPage::btnConnect_clicked);
        }
        break;
    }
    case OpenConnectConnection::CONNECTED:
        m_pageStatus = OpenConnectConnection::CONNECTED;
        m_btnConnect->setIcon(QIcon(QStringLiteral(":/assets/connected.png")));
        m_statsWidget->show();
        m_statsTimer.start();
        m_animationTimer.stop();
        // IPv6 only through the tunnel, switch or not, and the tunnel's DNS servers.
        if (KillSwitch::usesHelper())
            KillSwitch::queueStage(KillSwitch::Stage::Connected);
        if (Config::isSplitTunnelEnabled())
            emit coonnectToSplitTunnel();
        break;
    default:
        break;
    }
    update();
    refreshInformation();
}

void ConnectPage::refreshInformation()
{
    lookUpPublicIp();
    showProtection(true);
}

void ConnectPage::showProtection(bool store)
{
    auto config = Config::instance();
    const bool connected = m_pageStatus == OpenConnectConnection::CONNECTED;
    const bool reconnecting =
        m_pageStatus == OpenConnectConnection::CONNECTING && OpenConnectConnection::instance()->isReconnecting();
    if (connected) {
        const IPBundlePtr bundle = User::instance()->activeBundle();
        if (bundle)
            m_lblSelectionIp->setText(bundle->ip().section(QLatin1Char(':'), 0, 0));
        else
            qCritical() << "Exception occurred: "
                        << "Active bundle is null";
        m_lblProtectedLogo->setPixmap(scaledPicture(QStringLiteral(":/assets/protected.png")));
        m_lblIPLogo->setPixmap(scaledPicture(QStringLiteral(":/assets/ip.png")));
        setProtectionText(QStringLiteral("Protected Now"));
    } else {
        // An address looked up while the tunnel was up is the tunnel's, not the user's own.
        if (!m_publicIp.isEmpty() && !m_publicIpThroughTunnel)
            m_lblSelectionIp->setText(m_publicIp);
        else if (m_ipLookup.isRunning())
            m_lblSelectionIp->setText(QStringLiteral("Checking your IP address..."));
        else
            m_lblSelectionIp->setText(QStringLiteral("IP address unavailable"));
        m_lblProtectedLogo->setPixmap(scaledPicture(QStringLiteral(":/assets/not-protected.png")));
        m_lblIPLogo->setPixmap(scaledPicture(QStringLiteral(":/assets/ip-icon.png")));
        // While a lost tunnel is brought back the kill switch (when on) still holds the
        // traffic: not "protected", but not simply unprotected either.
        setProtectionText(reconnecting ? QStringLiteral("Connection lost, reconnecting...")
                                       : QStringLiteral("Not Protected"));
    }
    m_btnConnect->setAccessibleName(m_pageStatus == OpenConnectConnection::IDLE ? QStringLiteral("Connect")
                                                                                : QStringLiteral("Disconnect"));
    m_lblProtectedLogo->setAccessibleName(m_lblProtectedText->text());
    m_lblIPLogo->setAccessibleName(QStringLiteral("IP address"));
    // White over the connected picture (the "connected" rules of the style sheet).
    for (QLabel *label : {m_lblSelectionIp, m_lblProtectedText, m_lblVersion})
        Brand::setStyleState(label, "connected", connected);
    if (store) {
        // Reconnecting counts as connected for whoever reads the state (the kill switch's
        // setting must not open the firewall meanwhile).
        config->setConnectionState(connected || reconnecting);
        config->save();
    }
}

void ConnectPage::lookUpPublicIp()
{
    if (!m_api)
        return;
    // Without a lookup address the account service would start a whole configuration fetch
    // on every show and status change; the configuration is fetched at start and refreshed
    // on its own schedule, so wait for it.
    if (Config::publicIpUrl().isEmpty()) {
        m_publicIp.clear();
        m_publicIpThroughTunnel = false;
        return;
    }
    if (m_ipLookup.isRunning()) {
        m_ipLookupAgain = true;
        return;
    }
    m_lookupThroughTunnel = m_pageStatus == OpenConnectConnection::CONNECTED;
    // The lookup waits on the network: keep it off the GUI thread.
    std::shared_ptr<ApiRequest> api = m_api;
    m_ipLookup.setFuture(QtConcurrent::run([api] { return api->publicIp(); }));
}

void ConnectPage::onPublicIpFound()
{
    m_publicIp = m_ipLookup.result();
    m_publicIpThroughTunnel = m_lookupThroughTunnel;
    if (m_ipLookupAgain) {
        m_ipLookupAgain = false;
        lookUpPublicIp();
    }
    if (m_pageStatus != OpenConnectConnection::CONNECTED) {
        if (m_publicIp.isEmpty())
            m_lblSelectionIp->setText(QStringLiteral("IP address unavailable"));
        else if (!m_publicIpThroughTunnel)
            m_lblSelectionIp->setText(m_publicIp);
    }
}

void ConnectPage::setProtectionText(const QString &text)
{
    if (m_lblProtectedText->text() == text)
        return;
    m_lblProtectedText->setText(text);
    m_lblProtectedText->setAccessibleName(text);
    fitProtectionText();
    Accessibility::announce(m_lblProtectedText);
}

void ConnectPage::fitProtectionText()
{
    // On a narrow page (the default window on a 1024 x 768 screen) a long status such as
    // "Connection lost, reconnecting..." takes a smaller font instead of being cut off.
    const int side = width() < 360 ? 8 : 18;
    const int room = width() - 2 * side - m_lblProtectedLogo->sizeHint().width() - 8;
    QFont regular = m_lblProtectedText->font();
    regular.setPixelSize(16);
    Brand::setStyleState(m_lblProtectedText, "compact",
                         QFontMetrics(regular).horizontalAdvance(m_lblProtectedText->text()) > room);
}

QString ConnectPage::protectionText() const
{
    return m_lblProtectedText ? m_lblProtectedText->text() : QString();
}

QString ConnectPage::addressText() const
{
    return m_lblSelectionIp ? m_lblSelectionIp->text() : QString();
}

void ConnectPage::on_btnLogout_clicked()
{
    emit logout();
}

void ConnectPage::onStatsTimeout()
{
    OpenConnectConnection::instance()->update_stats();
}

void ConnectPage::onAnimationTimeout()
{
    if (m_ringAngle - 3 < 0)
        m_ringAngle = 360;
    else
        m_ringAngle -= 3;
    update();
}

void ConnectPage::setServerButton()
{
    if (m_role == Role::Detached)
        return;
    auto config = Config::instance();
    config->load();
    m_serverButton->setVisible(config->serverButton());
}

void ConnectPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_role == Role::Detached)
        return;
    QTimer::singleShot(0, this, [this] {
        refreshInformation();
        refreshVersion();
        // The automatic connect also when the quick choices are hidden.
        m_fastServer->autoConnectOnce();
    });
}

void ConnectPage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_role == Role::Detached)
        return;
    // A narrow page (the default window on a small screen) gives its width to the quick
    // choices, so that their fixed texts stay whole.
    const bool narrow = width() < 360;
    const int side = narrow ? 8 : 18;
    layout()->setContentsMargins(side, 16, side, 10);
    if (QLayout *quickRow = m_serverButton->layout())
        quickRow->setSpacing(narrow ? 4 : 8);
    // A short page (the default window on a 1024 x 768 screen) makes room for the banner with
    // a smaller connect button and closer rows; the banner keeps its picture's proportions
    // within the page's width, at most its full 540 x 100.
    const bool shortPage = height() < 600;
    const int button = shortPage ? 100 : 140;
    m_btnConnect->setFixedSize(button + 4, button);
    m_btnConnect->setIconSize(QSize(button - 10, button - 10));
    layout()->setSpacing(shortPage ? 6 : 10);
    const int bannerWidth = qMin(width() - 2 * side, kBannerSize.width());
    m_homeImageWidget->setFixedHeight(qMin(shortPage ? kShortPageBannerHeight : kBannerSize.height(),
                                           bannerWidth * kBannerSize.height() / kBannerSize.width()));
    fitProtectionText();
}

void ConnectPage::refreshVersion()
{
    QString version = Config::appVersion();
    if (version.isEmpty())
        version = QStringLiteral("0.0.0");
    m_lblVersion->setText(QStringLiteral("Version: ") + version);
}

void ConnectPage::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (m_pageStatus != OpenConnectConnection::CONNECTING && m_pageStatus != OpenConnectConnection::CONNECTED)
        return;

    const QPoint origin = m_btnConnect->mapTo(this, QPoint(0, 0));
    const int x = origin.x();
    const int y = origin.y();
    const int h = m_btnConnect->height();

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF square;
    QConicalGradient gradient;
    int start = 0;
    int span = 0;
    qreal width = 0;
    if (m_pageStatus == OpenConnectConnection::CONNECTING) {
        square = QRectF(x - 2, y - 4, h + 8, h + 8);
        gradient = QConicalGradient(square.center(), m_ringAngle);
        gradient.setColorAt(0, kBrandRed);
        const QColor clear(kBrandRed.red(), kBrandRed.green(), kBrandRed.blue(), 0);
        gradient.setColorAt(0.6, clear);
        gradient.setColorAt(1, clear);
        width = 3;
        start = -1440;
        span = 5760;
    } else {
        square = QRectF(x, y - 2, h + 4, h + 4);
        gradient = QConicalGradient(square.center(), m_ringAngle);
        const QColor green(0, 128, 0);
        gradient.setColorAt(0, green);
        gradient.setColorAt(0.5, green);
        gradient.setColorAt(1, green);
        width = 4;
        start = 1435;
        span = -5760;
    }
    QPen pen(QBrush(gradient), width);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.drawArc(square, start, span);
}

} // namespace Tavrix
