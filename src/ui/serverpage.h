#pragma once

#include <QWidget>

class QStackedWidget;

namespace Tavrix {

class ConnectPage;
class MenuPage;
class SplitTunnelPage;

// The signed-in hub: a side stack (server list, menu, account, settings and information
// pages) beside a main stack (connect screen, purchase page, split tunnel). It wires the
// pages' back and navigation signals to the two stacks and restores the panels that were
// showing at the last sign-out.
class ServerPage : public QWidget
{
    Q_OBJECT
public:
    // Side stack indices.
    enum Side {
        SideServerList = 0,
        SideMenu,
        SideMyAccount,
        SideSupport,
        SideTools,
        SideReferralRedeem,
        SideMore,
        SideAboutUs,
        SideReferFriend,
        SideSettings,
        SideDevices,
        SideRedeemVoucher,
        SideDarkWeb,
        SidePaymentHistory
    };
    // Main stack indices.
    enum Main { MainConnect = 0, MainPurchase, MainSplitTunnel };

    explicit ServerPage(QWidget *parent = nullptr);

    // At each sign-in. AutoConncet on: server list and connect screen; otherwise the
    // remembered panels. Also arms the automatic connect for this sign-in.
    void restorePanels();

    QStackedWidget *sideStack() const { return m_side; }
    QStackedWidget *mainStack() const { return m_main; }
    ConnectPage *connectPage() const { return m_connectPage; }

    // What a pick in the server list or a quick choice leads to, once `ActiveServer` names the
    // chosen server: the connect screen, and a connect (after a disconnect when one is up).
    void connectToChosenServer();

signals:
    void logout();
    void connectButtonClick();
    void refreshLogin();
    void disconnectVPN();

public slots:
    void logoutClick();
    void myAccountBack();

private:
    void buildForm();
    void makeConnections();
    void showPanels(int side, int main);
    void showSplitTunnel();

    QStackedWidget *m_side = nullptr;
    QStackedWidget *m_main = nullptr;
    ConnectPage *m_connectPage = nullptr;
    MenuPage *m_menuPage = nullptr;
    SplitTunnelPage *m_splitTunnelPage = nullptr;
};

} // namespace Tavrix
