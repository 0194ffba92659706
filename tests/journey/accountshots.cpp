#include "accountshots.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

#include "ui/account/accountrequest.h"
#include "ui/account/referralredeem.h"
#include "ui/mainwindow.h"
#include "ui/serverpage.h"

using namespace Tavrix;

namespace {

struct Page
{
    int side;
    const char *file;
};

// Shown until its request (if any) has answered.
bool settled(QWidget *page)
{
    const auto *request = page->findChild<AccountRequest *>();
    return !request || !request->isBusy();
}

} // namespace

void shootAccountPages(MainWindow &window, const std::function<void(const QString &, QWidget *)> &shot)
{
    auto *hub = window.findChild<ServerPage *>();
    if (!hub)
        return;
    QStackedWidget *side = hub->sideStack();
    const Page pages[] = {{ServerPage::SideRedeemVoucher, "redeem-voucher"},
                          {ServerPage::SideReferFriend, "refer-friend"},
                          {ServerPage::SideReferralRedeem, "referral-redeem"},
                          {ServerPage::SideDevices, "devices"},
                          {ServerPage::SideDarkWeb, "dark-web"},
                          {ServerPage::SideSupport, "support"},
                          {ServerPage::SideAboutUs, "about"},
                          {ServerPage::SideMore, "more"},
                          {ServerPage::SideMenu, "menu"}};
    const QSize original = window.size();
    // The journey itself runs once per default window size.
    const QSize sizes[] = {original};
    for (const QSize &size : sizes) {
        window.setFixedSize(size);
        const QString folder =
            size == original ? QString() : QStringLiteral("%1x%2/").arg(size.width()).arg(size.height());
        for (const Page &page : pages) {
            side->setCurrentIndex(page.side);
            QWidget *current = side->currentWidget();
            QTest::qWait(50);
            (void)QTest::qWaitFor([&] { return settled(current); }, 10000);
            QTest::qWait(250);
            shot(folder + QLatin1String(page.file) + QStringLiteral(".png"), &window);
            if (page.side == ServerPage::SideReferFriend) {
                if (auto *share = current->findChild<QPushButton *>(QStringLiteral("btnShare"))) {
                    QTest::mouseClick(share, Qt::LeftButton);
                    QTest::qWait(200);
                    shot(folder + QStringLiteral("refer-friend-share.png"), &window);
                    QTest::mouseClick(share, Qt::LeftButton);
                }
            }
        }
    }
    window.setFixedSize(original);

    // Last, as a redemption signs the account out: the congratulation popup.
    side->setCurrentIndex(ServerPage::SideReferralRedeem);
    auto *redeem = side->currentWidget();
    auto *code = redeem->findChild<QLineEdit *>(QStringLiteral("editCode"));
    auto *submit = redeem->findChild<QPushButton *>(QStringLiteral("btnSubmit"));
    if (!code || !submit)
        return;
    code->setText(QStringLiteral("FREE7Q2K"));
    QTest::mouseClick(submit, Qt::LeftButton);
    CongratulationsPopup *popup = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if ((popup = qobject_cast<CongratulationsPopup *>(widget)) && popup->isVisible())
                    return true;
            }
            popup = nullptr;
            return false;
        },
        10000);
    if (!popup)
        return;
    QTest::qWait(250);
    shot(QStringLiteral("congratulations-popup.png"), popup);
    if (auto *notNow = popup->findChild<QPushButton *>(QStringLiteral("btnNotNow")))
        QTest::mouseClick(notNow, Qt::LeftButton);
}
