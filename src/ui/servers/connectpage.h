#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace Tavrix {

class StatsIndicator;

// The main screen after sign-in: the connect button with its status ring, the protection
// line, the address, the selected location with the quick choices, live traffic while
// connected, the banner area and the version.
class ConnectPage : public QWidget
{
    Q_OBJECT
public:
    explicit ConnectPage(QWidget *parent = nullptr);

    // Called by the hub after a server was chosen; reconnects when a tunnel is up.
    void requestConnect(bool switchServer);

    int pageStatus() const { return m_pageStatus; }
    bool reconnectPending() const { return m_reconnectPending; }
    double ringAngle() const { return m_ringAngle; }
    QString publicIpText() const { return m_publicIp; }

signals:
    void logout();
    void requestServerSelection();
    void connectToStreamingServer();
    void connectToGammingServer();
    void ConnectToFastestServer();
    void clickBuyPremiumButton();
    void paymentPageRequest();
    void coonnectToSplitTunnel();

public slots:
    void btnConnect_clicked();
    void on_btnLogout_clicked();
    void onStatsTimeout();
    void onAnimationTimeout();
    void setServerButton();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildUi();
    void refreshVersion();

    int m_pageStatus = 0;
    bool m_reconnectPending = false;
    double m_ringAngle = 360.0;
    QString m_publicIp;
    QTimer m_statsTimer;
    QTimer m_animationTimer;

    QWidget *m_homeImageWidget = nullptr;
    QPushButton *m_btnConnect = nullptr;
    QLabel *m_lblProtectedLogo = nullptr;
    QLabel *m_lblProtectedText = nullptr;
    QLabel *m_lblIPLogo = nullptr;
    QLabel *m_lblSelectionIp = nullptr;
    QWidget *m_serverButton = nullptr;
    StatsIndicator *m_statsWidget = nullptr;
    QLabel *m_lblVersion = nullptr;
};

} // namespace Tavrix
