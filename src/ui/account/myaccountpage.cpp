#include "ui/account/myaccountpage.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "common/config.h"
#include "common/user.h"
#include "ui/account/copypopup.h"
#include "ui/account/myaccout.h"
#include "ui/brand.h"
#include "ui/card.h"
#include "ui/servers/elidedlabel.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {

namespace {

constexpr int kShownNameLength = 25;

QLabel *makeLabel(const char *name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QPushButton *makeCopyButton(const char *name, QWidget *parent)
{
    auto *button = new QPushButton(QIcon(QStringLiteral(":/assets/copy.png")), QString(), parent);
    button->setObjectName(QLatin1String(name));
    button->setProperty("role", QStringLiteral("copy"));
    button->setIconSize(QSize(18, 18));
    button->setFixedSize(32, 32);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(QStringLiteral("Copy"));
    button->setAccessibleName(qstrcmp(name, "btnCopyPassword") == 0 ? QStringLiteral("Copy password")
                                                                    : QStringLiteral("Copy user name"));
    return button;
}

} // namespace

MyAccountPage::MyAccountPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("My Account"), -1, parent)
{
    buildForm();
    connect(backButton(), &QPushButton::pressed, this, &MyAccountPage::on_btnBack_pressed);
    connect(m_btnCopyUser, &QPushButton::pressed, this, &MyAccountPage::on_btnCopyUser_pressed);
    connect(m_btnCopyPassword, &QPushButton::pressed, this, &MyAccountPage::on_btnCopyPassword_pressed);
    connect(m_byNowButton, &QPushButton::pressed, this, &MyAccountPage::on_byNowButton_pressed);
    connect(m_pushButton, &QPushButton::pressed, this, &MyAccountPage::on_pushButton_pressed);
}

void MyAccountPage::buildForm()
{
    auto *card = new Card(this);
    card->setObjectName(QStringLiteral("accountCard"));
    m_lblMyAccountLogo = makeLabel("lblMyAccountLogo", QString(), card);
    m_lblMyAccountLogo->setFixedSize(48, 48);
    m_lblMyAccountLogo->setScaledContents(true);
    auto *statusCaption = makeLabel("lblAccountCaption", QStringLiteral("Account Status"), card);
    m_lblAccountStatus = makeLabel("lblAccountStatus", QString(), card);
    auto *statusTexts = new QVBoxLayout;
    statusTexts->setSpacing(2);
    statusTexts->addWidget(statusCaption);
    statusTexts->addWidget(m_lblAccountStatus);
    auto *statusRow = new QHBoxLayout;
    statusRow->setSpacing(12);
    statusRow->addWidget(m_lblMyAccountLogo);
    statusRow->addLayout(statusTexts, 1);

    // An address has no blank to wrap at: a narrow card draws it cut with "…" and the whole
    // name as a tool tip.
    m_lblUserName = new ElidedLabel(card);
    m_lblUserName->setObjectName(QStringLiteral("lblUserName"));
    m_lblUserPassword = makeLabel("lblUserPassword", QString(), card);
    m_lblUserPassword->setWordWrap(true);
    m_btnCopyUser = makeCopyButton("btnCopyUser", card);
    m_btnCopyPassword = makeCopyButton("btnCopyPassword", card);
    // Each value under its caption, across the whole card: an address is long, and the
    // narrowest window leaves the card little more than its width.
    auto *credentials = new QGridLayout;
    credentials->setHorizontalSpacing(10);
    credentials->setVerticalSpacing(2);
    credentials->addWidget(makeLabel("lblUserCaption", QStringLiteral("Username"), card), 0, 0);
    credentials->addWidget(m_btnCopyUser, 0, 1);
    credentials->addWidget(m_lblUserName, 1, 0, 1, 2);
    credentials->setRowMinimumHeight(2, 8);
    credentials->addWidget(makeLabel("lblPasswordCaption", QStringLiteral("Password"), card), 3, 0);
    credentials->addWidget(m_btnCopyPassword, 3, 1);
    credentials->addWidget(m_lblUserPassword, 4, 0, 1, 2);
    credentials->setColumnStretch(0, 1);

    auto *cardColumn = new QVBoxLayout(card);
    cardColumn->setContentsMargins(16, 16, 16, 16);
    cardColumn->setSpacing(14);
    cardColumn->addLayout(statusRow);
    cardColumn->addLayout(credentials);

    m_packageBox = new Card(this);
    m_packageBox->setObjectName(QStringLiteral("packageBox"));
    m_lblPackgeTitle = makeLabel("lblPackgeTitle", QString(), m_packageBox);
    m_lblPackge = makeLabel("lblPackge", QString(), m_packageBox);
    m_numberOfDays = new QWidget(m_packageBox);
    m_numberOfDays->setObjectName(QStringLiteral("NumberOfDayesWidget"));
    m_lblDays = makeLabel("lblDays", QString(), m_numberOfDays);
    auto *daysRow = new QHBoxLayout(m_numberOfDays);
    daysRow->setContentsMargins(0, 0, 0, 0);
    daysRow->addWidget(m_lblDays);
    m_byNowButton = new QPushButton(QStringLiteral("Buy Now"), m_packageBox);
    m_byNowButton->setObjectName(QStringLiteral("byNowButton"));
    m_byNowButton->setCursor(Qt::PointingHandCursor);
    m_byNowButton->setMinimumHeight(40);
    // The hub's transparent backgrounds outrank the application sheet.
    Brand::setLook(m_byNowButton, "filled");
    auto *packageTexts = new QVBoxLayout;
    packageTexts->setSpacing(2);
    packageTexts->addWidget(m_lblPackgeTitle);
    packageTexts->addWidget(m_lblPackge);
    auto *packageRow = new QHBoxLayout(m_packageBox);
    packageRow->setContentsMargins(16, 12, 16, 12);
    packageRow->addLayout(packageTexts, 1);
    packageRow->addWidget(m_numberOfDays);
    packageRow->addWidget(m_byNowButton);

    m_pushButton =
        new QPushButton(QIcon(QStringLiteral(":/assets/Transaction.svg")), QStringLiteral("Purchase History"), this);
    m_pushButton->setObjectName(QStringLiteral("pushButton"));
    m_pushButton->setCursor(Qt::PointingHandCursor);
    m_pushButton->setIconSize(QSize(20, 20));
    m_pushButton->setMinimumHeight(44);
    Brand::setLook(m_pushButton, "outlined");

    body()->setSpacing(14);
    body()->addWidget(card);
    body()->addWidget(m_packageBox);
    body()->addWidget(m_pushButton);
    body()->addStretch(1);
}

QString MyAccountPage::shownUserName(const QString &userName)
{
    return userName.left(kShownNameLength);
}

void MyAccountPage::showEvent(QShowEvent *event)
{
    PlaceholderPage::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            refresh();
    });
}

void MyAccountPage::refresh()
{
    const auto user = User::instance();
    const auto controller = OpenConnectConnection::instance();
    m_lblAccountStatus->setText(user->typeText());
    m_lblUserName->setText(shownUserName(controller->getUsername()));
    m_lblUserPassword->setText(QString(controller->getPassword().size(), QLatin1Char('*')));
    m_lblMyAccountLogo->setPixmap(QPixmap(MyAccout::pictureFor(user->is_loyal_user(), user->user_type())));

    // The box starts from the offer every time: a page shown for a paid account before must
    // not keep its expiry for the next one.
    const bool paid = user->is_loyal_user() != 0 || user->user_type() == 2;
    m_lblPackgeTitle->setText(QStringLiteral("Unlock All"));
    m_lblPackge->setText(QStringLiteral("Featurs"));
    m_byNowButton->setVisible(!paid);
    m_numberOfDays->setVisible(paid);
    if (paid) {
        m_lblPackgeTitle->setText(QStringLiteral("Expire on"));
        m_lblPackge->setText(user->validity_date().toString(Qt::TextDate));
        m_lblDays->setText(QString::number(user->expire_in_days()) + QLatin1Char(' ') + QStringLiteral("Days"));
    }
    m_packageBox->setProperty("paid", paid);
    Config::saveState(2, 0);
}

void MyAccountPage::on_btnBack_pressed()
{
    emit clickBack();
}

void MyAccountPage::on_btnCopyUser_pressed()
{
    QApplication::clipboard()->setText(OpenConnectConnection::instance()->getUsername());
    showCopiedPopup(this, QStringLiteral("Username copied to clipboard"));
}

void MyAccountPage::on_btnCopyPassword_pressed()
{
    auto *data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), OpenConnectConnection::instance()->getPassword().toUtf8());
    QApplication::clipboard()->setMimeData(data);
    showCopiedPopup(this, QStringLiteral("Password copied to clipboard"));
}

void MyAccountPage::on_byNowButton_pressed()
{
    emit byNowButtonClick();
}

void MyAccountPage::on_pushButton_pressed()
{
    emit paymentHistoryButtonClick();
}

} // namespace Tavrix
