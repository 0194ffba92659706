#include "ui/menuitems.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ui/accessibility.h"
#include "ui/brand.h"

namespace Tavrix {

MenuItem::MenuItem(const QString &iconPath, const QString &text, QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(52);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 8, 16, 8);
    row->setSpacing(14);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("lblIcon"));
    icon->setFixedSize(26, 26);
    icon->setPixmap(QPixmap(iconPath).scaled(26, 26, Qt::KeepAspectRatio, Qt::SmoothTransformation));

    m_text = new QLabel(text, this);
    m_text->setObjectName(QStringLiteral("lblText"));
    Brand::setLook(m_text, "itemTitle");

    auto *arrow = new QLabel(this);
    arrow->setObjectName(QStringLiteral("lblArrow"));
    arrow->setFixedSize(14, 14);
    arrow->setPixmap(
        QPixmap(QStringLiteral(":/assets/arrow.png")).scaled(14, 14, Qt::KeepAspectRatio, Qt::SmoothTransformation));

    row->addWidget(icon);
    row->addWidget(m_text, 1);
    row->addWidget(arrow);
    Accessibility::makeClickable(this, text);
}

QString MenuItem::text() const
{
    return m_text->text();
}

void MenuItem::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QWidget::mousePressEvent(event);
}

void MenuItem::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 12, 12);
    painter.fillPath(path, underMouse() ? QColor(0xFB, 0xEC, 0xED) : QColor(Qt::white));
    painter.setPen(QColor(QLatin1String(Brand::line)));
    painter.drawPath(path);
}

SupportButton::SupportButton(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/support.png"), QStringLiteral("Get Support"), parent)
{
}

SettingButton::SettingButton(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/setting.png"), QStringLiteral("Settings"), parent)
{
}

PurchaseFoFriends::PurchaseFoFriends(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/purchase_for_friend.png"), QStringLiteral("Purchase for Friends"), parent)
{
}

Devices::Devices(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/device.png"), QStringLiteral("Devices"), parent)
{
}

AboutUs::AboutUs(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/About us.png"), QStringLiteral("About Us"), parent)
{
}

TavrixMoreButton::TavrixMoreButton(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/tavrix-more.png"), QStringLiteral("More from Tavrix"), parent)
{
}

Refer::Refer(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/refer.png"), QStringLiteral("Free Bonus"), parent)
{
}

PrivateBrowser::PrivateBrowser(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/Private-Browser.png"), QStringLiteral("Private Browser"), parent)
{
}

RedeemVoucherButton::RedeemVoucherButton(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/redeem voucher.png"), QStringLiteral("Redeem Voucher"), parent)
{
}

RateUsButton::RateUsButton(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/rate_us.png"), QStringLiteral("Rate Us"), parent)
{
}

LogoutButton::LogoutButton(QWidget *parent)
    : MenuItem(QStringLiteral(":/assets/log-out.png"), QStringLiteral("Log Out"), parent)
{
}

} // namespace Tavrix
