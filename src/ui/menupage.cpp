#include "ui/menupage.h"

#include <QDebug>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "common/config.h"
#include "protection/killswitch.h"
#include "ui/account/myaccout.h"
#include "ui/account/premiumbutton.h"
#include "ui/brand.h"
#include "ui/dbox.h"
#include "ui/menuitems.h"
#include "ui/webaddresses.h"

namespace Tavrix {

MenuPage::MenuPage(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Tavrix__MenuPage"));
    const Brand::ScrollingPage page =
        Brand::makeScrollingPage(this, QStringLiteral("Menu"), QStringLiteral("lblServerMenu"));
    m_scrollArea = page.scrollArea;
    QWidget *content = page.content;
    QVBoxLayout *items = page.items;

    auto place = [&](QWidget *item, const char *name) {
        item->setObjectName(QLatin1String(name));
        items->addWidget(item);
    };
    auto *account = new MyAccout(content);
    place(account, "myaccountButton");
    auto *premium = new PremiumButton(content);
    place(premium, "premimumButton");
    auto *support = new SupportButton(content);
    place(support, "supportButton");
    auto *setting = new SettingButton(content);
    place(setting, "settingButton");
    auto *friends = new PurchaseFoFriends(content);
    place(friends, "purchaseForFriend");
    auto *devices = new Devices(content);
    place(devices, "deviceButton");
    auto *about = new AboutUs(content);
    place(about, "aboutUsButton");
    auto *more = new TavrixMoreButton(content);
    place(more, "tavrixMoreButton");
    more->hide();
    auto *refer = new Refer(content);
    place(refer, "referButton");
    auto *browser = new PrivateBrowser(content);
    place(browser, "privateBrowser");
    browser->hide();
    auto *voucher = new RedeemVoucherButton(content);
    place(voucher, "redeemVoucherButton");
    auto *rateUs = new RateUsButton(content);
    place(rateUs, "rateUsButton");
    auto *logout = new LogoutButton(content);
    place(logout, "logoutButton");
    items->addStretch();

    connect(account, &MenuCard::clicked, this, &MenuPage::myAccountButtonClick);
    connect(premium, &MenuCard::clicked, this, &MenuPage::premiumButtonClick);
    connect(support, &MenuItem::clicked, this, &MenuPage::supportButtonClick);
    connect(setting, &MenuItem::clicked, this, &MenuPage::settingButtonClick);
    connect(friends, &MenuItem::clicked, this, [] { QDesktopServices::openUrl(WebAddress::purchaseForFriends()); });
    connect(devices, &MenuItem::clicked, this, [this] { openServicePage(&MenuPage::deviceButtonClick); });
    connect(about, &MenuItem::clicked, this, &MenuPage::aboutUsButtonClick);
    connect(more, &MenuItem::clicked, this, &MenuPage::tavrixMoreButtonClick);
    connect(refer, &MenuItem::clicked, this, [this] { openServicePage(&MenuPage::referButtonClick); });
    connect(voucher, &MenuItem::clicked, this, [this] { openServicePage(&MenuPage::redeemVoucherButtonClick); });
    connect(rateUs, &MenuItem::clicked, this, &MenuPage::openRateUs);
    connect(logout, &MenuItem::clicked, this, &MenuPage::logoutButtonClick);

    QMetaObject::connectSlotsByName(this);
}

void MenuPage::on_btnBack_pressed()
{
    emit backClick();
}

void MenuPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            return;
        Config::saveState(1, 0);
        m_scrollArea->verticalScrollBar()->setValue(0);
    });
}

void MenuPage::openServicePage(void (MenuPage::*request)())
{
    // With the kill switch blocking and no tunnel up, the page's requests could not get out.
    if (KillSwitch::blocksServicePages()) {
        auto *box = new DBox(this);
        box->setTitle(QStringLiteral("Please Connect the VPN to \nProceed Further."));
        box->setSubmitText(QStringLiteral("Ok"));
        connect(box, &DBox::submit, box, &QDialog::accept);
        box->exec();
        box->deleteLater();
        return;
    }
    emit(this->*request)();
}

void MenuPage::openRateUs()
{
    const QString address = Config::rateUsUrl();
    if (address.isEmpty()) {
        qWarning() << "Rate Us address not configured";
        return;
    }
    QDesktopServices::openUrl(QUrl(address));
}

} // namespace Tavrix
