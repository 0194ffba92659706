#include "ui/settingpage.h"

#include <QDebug>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "common/config.h"
#include "ui/brand.h"
#include "ui/dbox.h"
#include "ui/settingitems.h"
#include "ui/splittunnel.h"

namespace Tavrix {

namespace {
constexpr int ProtocolCount = 8; // "All" and "Protocol 1" to "Protocol 7"
constexpr int SettingsSide = 9;

QLabel *sectionTitle(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("lblSectionTitle"));
    return label;
}

QLabel *sectionSubtitle(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("lblSectionSubtitle"));
    Brand::setLook(label, "caption");
    return label;
}

// Checks exactly `checked` (none when it is null): auto-exclusive buttons refuse to clear
// the last check on their own.
void checkOnly(const QList<QRadioButton *> &buttons, QRadioButton *checked)
{
    for (QRadioButton *button : buttons)
        button->setAutoExclusive(false);
    for (QRadioButton *button : buttons)
        button->setChecked(button == checked);
    for (QRadioButton *button : buttons)
        button->setAutoExclusive(true);
}
} // namespace

SettingPage::SettingPage(QWidget *parent)
    : QWidget(parent)
{
    buildForm();

    auto *protocol = findChild<SettingProtocolButton *>(QStringLiteral("protocolWidget"));
    auto *general = findChild<SettingGeneralButton *>(QStringLiteral("generalButton"));
    connect(protocol, &SettingItem::clicked, this, &SettingPage::clickProtocolButton);
    connect(general, &SettingItem::clicked, this, &SettingPage::clickGeneralButton);
    connect(findChild<NetworkProtection *>(QStringLiteral("networkProtection")), &SettingItem::clicked, this,
            &SettingPage::clickNetworkProtecton);
    connect(findChild<SettingAutoConnectButton *>(QStringLiteral("autoConnectButton")), &SettingItem::clicked, this,
            &SettingPage::setAutoConnect);
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &SettingPage::onStatusChanged);
    connect(findChild<DarkWebMonitor *>(QStringLiteral("DarkWebMonitoring")), &SettingItem::clicked, this,
            &SettingPage::DarkWebButtonClicked);
    connect(findChild<SplitTunnel *>(QStringLiteral("splitTunnel")), &SplitTunnel::clicked, this,
            &SettingPage::splitTunnelButtonClicked);

    // A click ends with the button checking itself; the stored choice decides what shows
    // (it differs after a refused change).
    for (QRadioButton *button : m_protocolButtons + QList<QRadioButton *>{m_quickAccess, m_alwaysSelect})
        connect(button, &QRadioButton::clicked, this, &SettingPage::showStoredChoices);

    m_protocolTools->hide();
    m_generalTools->hide();
    findChild<QWidget *>(QStringLiteral("AppCrashReport"))->hide();
    findChild<QWidget *>(QStringLiteral("Notification"))->hide();

    QMetaObject::connectSlotsByName(this);
}

void SettingPage::buildForm()
{
    setObjectName(QStringLiteral("Tavrix__SettingPage"));
    const Brand::ScrollingPage page =
        Brand::makeScrollingPage(this, QStringLiteral("Settings"), QStringLiteral("lblTitleSettings"));
    m_scrollArea = page.scrollArea;
    QWidget *content = page.content;
    QVBoxLayout *items = page.items;

    auto place = [&](QWidget *item, const char *name) {
        item->setObjectName(QLatin1String(name));
        items->addWidget(item);
    };
    items->addWidget(sectionTitle(QStringLiteral("VPN Setting"), content));
    items->addWidget(sectionSubtitle(QStringLiteral("Set your security"), content));
    // The split-tunnel switch is that feature's own widget, shown in this page's card.
    items->addWidget(new SettingCard(QStringLiteral(":/assets/Split Tunnel.png"), new SplitTunnel, content));
    place(new SettingProtocolButton(content), "protocolWidget");
    m_protocolTools = makeProtocolTools(content);
    place(m_protocolTools, "protocolToolWidget");
    place(new NetworkProtection(content), "networkProtection");
    place(new SettingKillSwitch(content), "killSwithch");
#ifdef Q_OS_LINUX
    // The helper keeps IPv6 inside the tunnel whether the switch is on or not: say so where
    // the user looks for leak protection.
    auto *ipv6Note =
        new QLabel(QStringLiteral("While connected, IPv6 traffic is blocked outside the VPN tunnel."), content);
    ipv6Note->setWordWrap(true);
    ipv6Note->setContentsMargins(20, 0, 8, 4);
    Brand::setLook(ipv6Note, "caption");
    place(ipv6Note, "lblKillSwitchIpv6Note");
#endif
    place(new SettingGeneralButton(content), "generalButton");
    m_generalTools = makeGeneralTools(content);
    place(m_generalTools, "generalToolWidget");
    place(new SettingAutoConnectButton(content), "autoConnectButton");
    items->addSpacing(8);
    items->addWidget(sectionTitle(QStringLiteral("App Setting"), content));
    items->addWidget(sectionSubtitle(QStringLiteral("Set your app as you prefer"), content));
    place(new SettingStartWithSystem(content), "startWithSystem");
    place(new AppCrashReportButton(content), "AppCrashReport");
    place(new NotificationButton(content), "Notification");
    place(new DarkWebMonitor(content), "DarkWebMonitoring");
    items->addStretch();
}

QWidget *SettingPage::makeProtocolTools(QWidget *parent)
{
    auto *tools = new QWidget(parent);
    auto *grid = new QGridLayout(tools);
    // Narrow enough for the side panel of the smallest window (about 250 px wide).
    grid->setContentsMargins(20, 0, 4, 4);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    for (int value = 0; value < ProtocolCount; ++value) {
        auto *button =
            new QRadioButton(value == 0 ? QStringLiteral("All") : QStringLiteral("Protocol %1").arg(value), tools);
        button->setObjectName(value == 0 ? QStringLiteral("radioButtonAll")
                                         : QStringLiteral("radioButtonProtocol%1").arg(value));
        grid->addWidget(button, value / 2, value % 2);
        m_protocolButtons.append(button);
    }
    return tools;
}

QWidget *SettingPage::makeGeneralTools(QWidget *parent)
{
    auto *tools = new QWidget(parent);
    auto *list = new QVBoxLayout(tools);
    list->setContentsMargins(20, 0, 4, 4);
    list->setSpacing(8);
    m_quickAccess = new QRadioButton(QStringLiteral("Quick Access"), tools);
    m_quickAccess->setObjectName(QStringLiteral("quickAccessradioButton"));
    m_alwaysSelect = new QRadioButton(QStringLiteral("Always Select Server"), tools);
    m_alwaysSelect->setObjectName(QStringLiteral("AlwaysSelectServerradioButton"));
    list->addWidget(m_quickAccess);
    list->addWidget(m_alwaysSelect);
    return tools;
}

void SettingPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            return;
        showStoredChoices();
        Config::saveState(SettingsSide, 0);
        emit splitTunnelButtonClicked();
    });
}

void SettingPage::showStoredChoices()
{
    auto config = Config::instance();
    config->load();
    const int protocol = config->protocol();
    checkOnly(m_protocolButtons, protocol >= 0 && protocol < ProtocolCount ? m_protocolButtons.at(protocol) : nullptr);
    checkOnly({m_quickAccess, m_alwaysSelect}, config->serverButton() ? m_quickAccess : m_alwaysSelect);
}

void SettingPage::onStatusChanged(OpenConnectConnection::Status status)
{
    Q_UNUSED(status)
    // A protocol refused while connected may be chosen again now: show what is stored.
    if (isVisible())
        showStoredChoices();
}

void SettingPage::clickProtocolButton()
{
    m_protocolTools->setVisible(m_protocolTools->isHidden());
}

void SettingPage::clickGeneralButton()
{
    m_generalTools->setVisible(m_generalTools->isHidden());
}

bool SettingPage::promptDisconnectIfConnected()
{
    auto controller = OpenConnectConnection::instance();
    if (controller->status() != OpenConnectConnection::CONNECTED) {
        qDebug() << "VPN is not connected. Returning false.";
        return false;
    }
    qDebug() << "VPN is connected. Showing disconnect message.";
    auto *box = new DBox(this);
    box->setSubmitText(QStringLiteral("Disconnect VPN"));
    box->setCancelText(QStringLiteral("Skip"));
    box->setTitle(QStringLiteral("Please disconnect VPN to switch protocols"));
    bool disconnect = false;
    connect(box, &DBox::submit, box, [box, &disconnect] {
        qDebug() << "Submit clicked. Disconnecting VPN.";
        disconnect = true;
        box->accept();
    });
    connect(box, &DBox::cancel, box, [box] {
        qDebug() << "Cancel clicked. Closing dialog.";
        box->reject();
    });
    box->exec();
    delete box;
    if (disconnect)
        controller->disconnectVpn();
    qDebug() << "Returning true.";
    return true;
}

void SettingPage::chooseProtocol(int protocol)
{
    if (!promptDisconnectIfConnected()) {
        auto config = Config::instance();
        config->setProtocol(protocol);
        config->save();
    }
    // The dialog took the mouse release: no button may stay pressed down.
    for (QRadioButton *button : m_protocolButtons)
        button->setDown(false);
    showStoredChoices();
}

void SettingPage::chooseGeneral(bool quickAccess)
{
    auto config = Config::instance();
    config->setServerButton(quickAccess);
    config->save();
    showStoredChoices();
    emit clickedGeneralButton();
}

void SettingPage::on_radioButtonAll_pressed()
{
    chooseProtocol(0);
}

void SettingPage::on_radioButtonProtocol1_pressed()
{
    chooseProtocol(1);
}

void SettingPage::on_radioButtonProtocol2_pressed()
{
    chooseProtocol(2);
}

void SettingPage::on_radioButtonProtocol3_pressed()
{
    chooseProtocol(3);
}

void SettingPage::on_radioButtonProtocol4_pressed()
{
    chooseProtocol(4);
}

void SettingPage::on_radioButtonProtocol5_pressed()
{
    chooseProtocol(5);
}

void SettingPage::on_radioButtonProtocol6_pressed()
{
    chooseProtocol(6);
}

void SettingPage::on_radioButtonProtocol7_pressed()
{
    chooseProtocol(7);
}

void SettingPage::on_quickAccessradioButton_pressed()
{
    chooseGeneral(true);
}

void SettingPage::on_AlwaysSelectServerradioButton_pressed()
{
    chooseGeneral(false);
}

void SettingPage::setAutoConnect()
{
    auto config = Config::instance();
    config->load();
    // Only from idle: while a connection is being made, a press of the connect button would
    // cancel it instead.
    if (config->autoConncet() && !config->connectionState() &&
        OpenConnectConnection::instance()->status() == OpenConnectConnection::IDLE)
        emit autoConnectClicked();
}

void SettingPage::on_btnBack_pressed()
{
    emit clickBack();
}

} // namespace Tavrix
