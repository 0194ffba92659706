#pragma once

#include <QFutureWatcher>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "vpn/openconnectconnection.h"

class QLabel;
class QPushButton;

namespace Tavrix {

class ApiRequest;
class FastestServerButton;
class GammingServerButton;
class ServerButton;
class ServerButtonCustomWidget;
class StatsIndicator;
class StreamingServerButton;

// The main screen after sign-in: the connect button with its status ring, the protection
// line, the address, the selected location with the quick choices, live traffic while
// connected, the banner area and the version.
class ConnectPage : public QWidget
{
    Q_OBJECT
public:
    // Detached: an inert object (no widgets, no links to the controller or the account
    // service), as start-up keeps one beside the window.
    enum class Role { Page, Detached };

    explicit ConnectPage(QWidget *parent = nullptr, Role role = Role::Page);
    ~ConnectPage() override;

    // Called by the hub after a server was chosen; reconnects when a tunnel is up.
    void requestConnect(bool switchServer);
    // Called by the hub at each sign-in: the automatic connect may run once more.
    void rearmAutoConnect();

    int pageStatus() const { return m_pageStatus; }
    bool reconnectPending() const { return m_reconnectPending; }
    double ringAngle() const { return m_ringAngle; }
    QString publicIpText() const { return m_publicIp; }
    // What the page shows: "Protected Now" or "Not Protected", and the address line.
    QString protectionText() const;
    QString addressText() const;

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void logout();
    void requestServerSelection();
    void connectToStreamingServer();
    void connectToGammingServer();
    void ConnectToFastestServer();
    void clickBuyPremiumButton();
    void paymentPageRequest();
    void coonnectToSplitTunnel();
    // A connect was refused before any engine started (the reason is also shown in a box).
    void connectRefused(const QString &reason);

public slots:
    void btnConnect_clicked();
    void onStatusChanged(Tavrix::OpenConnectConnection::Status status);
    void onConnectFailed(const QString &message);
    // Bringing a lost tunnel back was given up: the user is told why, and what to do.
    void onReconnectGaveUp(const QString &message);
    // The status text wraps where the page is too narrow for it on one line.
    void fitProtectionText();
    // A server presented another key than the one stored for it: the connect was refused. Asks
    // whether to trust the new key; yes stores it and connects again.
    void onServerKeyChanged(const QString &server, const QString &storedPin, const QString &offeredPin);
    void on_btnLogout_clicked();
    void onStatsTimeout();
    void onAnimationTimeout();
    void setServerButton();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildUi();
    void refreshInformation();
    // store: also record the state in the settings (not while the page is being built).
    void showProtection(bool store);
    // The status line; a change is announced to screen readers.
    void setProtectionText(const QString &text);
    void lookUpPublicIp();
    void onPublicIpFound();
    void refreshVersion();
    void showMessage(const QString &title, const QString &submitText = QStringLiteral("Ok"));
    void reblockAfterRefusal();
    void startController();
    void offerUpgrade();

    const Role m_role;
    OpenConnectConnection::Status m_pageStatus = OpenConnectConnection::IDLE;
    bool m_reconnectPending = false;
    bool m_firewallOpening = false;
    double m_ringAngle = 360.0;
    QString m_publicIp;
    QTimer m_statsTimer;
    QTimer m_animationTimer;
    std::shared_ptr<ApiRequest> m_api;
    // One address lookup at a time; a refresh asked meanwhile runs once it ends.
    QFutureWatcher<QString> m_ipLookup;
    bool m_ipLookupAgain = false;
    bool m_lookupThroughTunnel = false;
    bool m_publicIpThroughTunnel = false;

    QWidget *m_homeImageWidget = nullptr;
    QPushButton *m_btnConnect = nullptr;
    QLabel *m_lblProtectedLogo = nullptr;
    QLabel *m_lblProtectedText = nullptr;
    QLabel *m_lblIPLogo = nullptr;
    QLabel *m_lblSelectionIp = nullptr;
    ServerButton *m_serverSelectWidget = nullptr;
    ServerButtonCustomWidget *m_serverButton = nullptr;
    FastestServerButton *m_fastServer = nullptr;
    StreamingServerButton *m_stremmingServer = nullptr;
    GammingServerButton *m_gammingServer = nullptr;
    StatsIndicator *m_statsWidget = nullptr;
    QLabel *m_lblVersion = nullptr;
};

} // namespace Tavrix
