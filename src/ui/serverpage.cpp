#include "ui/serverpage.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QStackedWidget>

#include "common/config.h"
#include "ui/aboutuspage.h"
#include "ui/account/darkwebmonitoringpage.h"
#include "ui/account/devicespage.h"
#include "ui/account/myaccountpage.h"
#include "ui/account/paymenthistory.h"
#include "ui/account/paymentpage.h"
#include "ui/account/redeemvoucherpage.h"
#include "ui/account/referfriendpage.h"
#include "ui/account/referralredeem.h"
#include "ui/menupage.h"
#include "ui/servers/connectpage.h"
#include "ui/servers/fastestserverbutton.h"
#include "ui/servers/serverselectionpage.h"
#include "ui/servers/toolspage.h"
#include "ui/settingpage.h"
#include "ui/splittunnelpage.h"
#include "ui/supportpage.h"
#include "ui/tavrixmorepage.h"

namespace Tavrix {

namespace {
constexpr int Keep = -1;

template<typename Page> Page *addPage(QStackedWidget *stack, const char *name)
{
    auto *page = new Page(stack);
    page->setObjectName(QLatin1String(name));
    stack->addWidget(page);
    return page;
}
} // namespace

ServerPage::ServerPage(QWidget *parent)
    : QWidget(parent)
{
    buildForm();
    restorePanels();
    makeConnections();
}

void ServerPage::buildForm()
{
    setObjectName(QStringLiteral("Tavrix__ServerPage"));
    resize(847, 600);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *frame = new QWidget(this);
    frame->setObjectName(QStringLiteral("widget_2"));
    layout->addWidget(frame);
    auto *row = new QHBoxLayout(frame);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto *sideMenue = new QWidget(frame);
    sideMenue->setObjectName(QStringLiteral("sideMenue"));
    sideMenue->setMaximumWidth(540);
    auto *sideLayout = new QVBoxLayout(sideMenue);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    m_side = new QStackedWidget(sideMenue);
    m_side->setObjectName(QStringLiteral("stackedWidget"));
    sideLayout->addWidget(m_side);

    m_main = new QStackedWidget(frame);
    m_main->setObjectName(QStringLiteral("stackedWidget_2"));

    row->addWidget(sideMenue, 2);
    row->addWidget(m_main, 3);

    addPage<ServerSelectionPage>(m_side, "serverSelectionPage");
    m_menuPage = addPage<MenuPage>(m_side, "menuPage");
    addPage<MyAccountPage>(m_side, "myAccountPage");
    addPage<SupportPage>(m_side, "supportPage");
    addPage<ToolsPage>(m_side, "toolsPage");
    addPage<ReferralRedeem>(m_side, "referralRedeem");
    addPage<TavrixMorePage>(m_side, "tavrixMorePage");
    addPage<AboutUsPage>(m_side, "aboutUsPage");
    addPage<ReferFriendPage>(m_side, "referFriendPage");
    addPage<SettingPage>(m_side, "settingPage");
    addPage<DevicesPage>(m_side, "devicesPage");
    addPage<RedeemVoucherPage>(m_side, "redeemVoucherPage");
    addPage<DarkWebMonitoringPage>(m_side, "darwebMonitorPage");
    addPage<PaymentHistory>(m_side, "paymentHistory");

    m_connectPage = addPage<ConnectPage>(m_main, "connectPage");
    addPage<PaymentPage>(m_main, "purchasePage");
    m_splitTunnelPage = addPage<SplitTunnelPage>(m_main, "splitTunelPage");
}

void ServerPage::restorePanels()
{
    // Runs at every sign-in: the automatic connect is due once more.
    m_connectPage->rearmAutoConnect();
    if (Config::instance()->autoConncet()) {
        showPanels(SideServerList, MainConnect);
        return;
    }
    const auto state = Config::loadState();
    showPanels(state.first, state.second);
}

void ServerPage::showPanels(int side, int main)
{
    if (side != Keep)
        m_side->setCurrentIndex(side);
    if (main != Keep)
        m_main->setCurrentIndex(main);
}

void ServerPage::connectToChosenServer()
{
    showPanels(Keep, MainConnect);
    m_connectPage->requestConnect(true);
}

void ServerPage::logoutClick()
{
    emit logout();
}

void ServerPage::myAccountBack()
{
    showPanels(SideMenu, MainConnect);
}

void ServerPage::showSplitTunnel()
{
    const bool enabled = Config::value(QLatin1String(SettingsGroup::UserDefaults),
                                       QLatin1String(SettingsKey::isSplitTunnelEnabled), false)
                             .toBool();
    qDebug() << "isEnabled::::" << enabled;
    showPanels(SideSettings, enabled ? MainSplitTunnel : MainConnect);
}

void ServerPage::makeConnections()
{
    auto *serverList = m_side->findChild<ServerSelectionPage *>(QStringLiteral("serverSelectionPage"));
    auto *menu = m_menuPage;
    auto *connect = m_connectPage;
    auto *myAccount = m_side->findChild<MyAccountPage *>();
    auto *support = m_side->findChild<SupportPage *>();
    auto *tools = m_side->findChild<ToolsPage *>();
    auto *more = m_side->findChild<TavrixMorePage *>();
    auto *about = m_side->findChild<AboutUsPage *>();
    auto *referFriend = m_side->findChild<ReferFriendPage *>();
    auto *settings = m_side->findChild<SettingPage *>();
    auto *devices = m_side->findChild<DevicesPage *>();
    auto *purchase = m_main->findChild<PaymentPage *>();
    auto *voucher = m_side->findChild<RedeemVoucherPage *>();
    auto *referralRedeem = m_side->findChild<ReferralRedeem *>();
    auto *darkWeb = m_side->findChild<DarkWebMonitoringPage *>();
    auto *history = m_side->findChild<PaymentHistory *>();
    auto *splitTunnel = m_splitTunnelPage;

    auto go = [this](int side, int main) { return [this, side, main] { showPanels(side, main); }; };
    auto connectAfterChoice = [this] { connectToChosenServer(); };

    QObject::connect(menu, &MenuPage::backClick, this, go(SideServerList, MainConnect));
    QObject::connect(serverList, &ServerSelectionPage::menueButtonClick, this, go(SideMenu, Keep));
    QObject::connect(menu, &MenuPage::logoutButtonClick, this, &ServerPage::logoutClick);
    QObject::connect(serverList, &ServerSelectionPage::connectUiAndConnect, this, connectAfterChoice);
    // The connect page's "Selected Location" asks for the server list.
    QObject::connect(connect, &ConnectPage::requestServerSelection, this, go(SideServerList, Keep));
    // A rebuilt list may name another fastest server: the quick button beside it shows it now,
    // not only at its next show.
    if (auto *fastest = connect->findChild<FastestServerButton *>(QStringLiteral("fastServer")))
        QObject::connect(serverList, &ServerSelectionPage::updateHighspeedButton, fastest,
                         &FastestServerButton::selectRandomBundil);
    QObject::connect(connect, &ConnectPage::connectToStreamingServer, this, connectAfterChoice);
    QObject::connect(connect, &ConnectPage::connectToGammingServer, this, connectAfterChoice);
    QObject::connect(connect, &ConnectPage::ConnectToFastestServer, this, connectAfterChoice);
    QObject::connect(menu, &MenuPage::myAccountButtonClick, this, go(SideMyAccount, MainConnect));
    QObject::connect(myAccount, &MyAccountPage::clickBack, this, &ServerPage::myAccountBack);
    QObject::connect(menu, &MenuPage::supportButtonClick, this, go(SideSupport, MainConnect));
    QObject::connect(support, &SupportPage::clickBack, this, go(SideMenu, Keep));
    QObject::connect(menu, &MenuPage::toolsButtonClick, this, go(SideTools, MainConnect));
    QObject::connect(tools, &ToolsPage::clickBack, this, go(SideSettings, MainConnect));
    // The more page's menu entry is hidden; its signal leads to the referral redemption.
    QObject::connect(menu, &MenuPage::tavrixMoreButtonClick, this, go(SideReferralRedeem, MainConnect));
    QObject::connect(more, &TavrixMorePage::clickBack, this, go(SideMenu, MainConnect));
    QObject::connect(menu, &MenuPage::aboutUsButtonClick, this, go(SideAboutUs, MainConnect));
    QObject::connect(about, &AboutUsPage::clickBack, this, go(SideMenu, MainConnect));
    QObject::connect(menu, &MenuPage::referButtonClick, this, go(SideReferFriend, MainConnect));
    QObject::connect(referFriend, &ReferFriendPage::clickBack, this, go(SideMenu, MainConnect));
    QObject::connect(menu, &MenuPage::settingButtonClick, this, go(SideSettings, MainConnect));
    QObject::connect(settings, &SettingPage::clickBack, this, go(SideMenu, MainConnect));
    QObject::connect(menu, &MenuPage::deviceButtonClick, this, go(SideDevices, MainConnect));
    QObject::connect(devices, &DevicesPage::clickBack, this, go(SideMenu, MainConnect));
    QObject::connect(menu, &MenuPage::premiumButtonClick, this, go(Keep, MainPurchase));
    QObject::connect(myAccount, &MyAccountPage::byNowButtonClick, this, go(Keep, MainPurchase));
    QObject::connect(purchase, &PaymentPage::clickBack, this, go(Keep, MainConnect));
    QObject::connect(serverList, &ServerSelectionPage::paymentPageRequest, this, go(Keep, MainPurchase));
    QObject::connect(connect, &ConnectPage::clickBuyPremiumButton, this, go(Keep, MainPurchase));
    QObject::connect(connect, &ConnectPage::paymentPageRequest, this, go(Keep, MainPurchase));
    QObject::connect(menu, &MenuPage::redeemVoucherButtonClick, this, go(SideRedeemVoucher, Keep));
    QObject::connect(voucher, &RedeemVoucherPage::clickBack, this, go(SideMenu, MainConnect));
    QObject::connect(this, &ServerPage::connectButtonClick, connect, &ConnectPage::btnConnect_clicked);
    QObject::connect(referFriend, &ReferFriendPage::redeemReferalClick, this, go(SideReferralRedeem, MainConnect));
    QObject::connect(referralRedeem, &ReferralRedeem::clickBack, this, go(SideReferFriend, MainConnect));
    QObject::connect(referralRedeem, &ReferralRedeem::refresh, this, &ServerPage::refreshLogin);
    QObject::connect(settings, &SettingPage::clickedGeneralButton, connect, &ConnectPage::setServerButton);
    QObject::connect(settings, &SettingPage::clickNetworkProtecton, this, go(SideTools, MainConnect));
    QObject::connect(serverList, &ServerSelectionPage::autoConncet, this, &ServerPage::connectButtonClick);
    QObject::connect(settings, &SettingPage::autoConnectClicked, this, &ServerPage::connectButtonClick);
    QObject::connect(settings, &SettingPage::DarkWebButtonClicked, this, go(SideDarkWeb, Keep));
    QObject::connect(darkWeb, &DarkWebMonitoringPage::clickBack, this, go(SideSettings, MainConnect));
    QObject::connect(settings, &SettingPage::switchConnectionPage, this, &ServerPage::connectButtonClick);
    QObject::connect(myAccount, &MyAccountPage::paymentHistoryButtonClick, this, go(SidePaymentHistory, Keep));
    QObject::connect(history, &PaymentHistory::btnBackPressed, this, go(SideMyAccount, MainConnect));
    QObject::connect(settings, &SettingPage::splitTunnelButtonClicked, this, &ServerPage::showSplitTunnel);
    QObject::connect(splitTunnel, &SplitTunnelPage::btnBackClick, this, go(SideSettings, MainConnect));
    QObject::connect(settings, &SettingPage::splitTunnelButtonClicked, splitTunnel,
                     &SplitTunnelPage::connectSplitTunnel);
    QObject::connect(connect, &ConnectPage::coonnectToSplitTunnel, splitTunnel, &SplitTunnelPage::connectSplitTunnel);
}

} // namespace Tavrix
