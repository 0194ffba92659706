#include "ui/settingitems.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTimer>
#include <QTransform>
#include <QVBoxLayout>

#include "common/config.h"
#include "platform/autostart.h"
#include "protection/killswitch.h"
#include "ui/accessibility.h"
#include "ui/brand.h"
#include "ui/dbox.h"

namespace Tavrix {

namespace {
constexpr int IconSize = 28;
constexpr int ArrowSize = 14;
constexpr int SwitchSize = 32;

QPixmap arrowPicture(bool open)
{
    QPixmap arrow = QPixmap(QStringLiteral(":/assets/arrow.png"))
                        .scaled(ArrowSize, ArrowSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return open ? arrow.transformed(QTransform().rotate(90), Qt::SmoothTransformation) : arrow;
}

void paintCard(QWidget *widget, bool hovered)
{
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(widget->rect()).adjusted(1, 1, -1, -1), 12, 12);
    painter.fillPath(path, hovered ? QColor(0xFB, 0xEC, 0xED) : QColor(Qt::white));
    painter.setPen(QColor(QLatin1String(Brand::line)));
    painter.drawPath(path);
}
} // namespace

SettingItem::SettingItem(const QString &iconPath, const QString &title, const QString &subtitle, Trailing trailing,
                         QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(12);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("lblIcon"));
    icon->setFixedSize(IconSize, IconSize);
    icon->setPixmap(QPixmap(iconPath).scaled(IconSize, IconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_title = new QLabel(title, this);
    m_title->setObjectName(QStringLiteral("lblItemTitle"));
    m_title->setWordWrap(true);
    Brand::setLook(m_title, "itemTitle");
    // The texts carry line breaks for a wide panel; a narrow one wraps them itself.
    auto *sub = new QLabel(QString(subtitle).replace(QStringLiteral(" \n"), QStringLiteral(" ")), this);
    sub->setObjectName(QStringLiteral("lblItemSubtitle"));
    sub->setWordWrap(true);
    Brand::setLook(sub, "caption");
    texts->addWidget(m_title);
    texts->addWidget(sub);

    m_trailing = new QLabel(this);
    m_trailing->setObjectName(trailing == Switch ? QStringLiteral("lblSwitch") : QStringLiteral("lblArrow"));
    m_trailing->setAlignment(Qt::AlignCenter);
    if (trailing == Switch) {
        m_trailing->setFixedSize(SwitchSize, SwitchSize);
        showSwitch(false);
    } else {
        m_trailing->setFixedSize(ArrowSize, ArrowSize);
        m_trailing->setPixmap(arrowPicture(false));
    }

    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    row->addWidget(m_trailing, 0, Qt::AlignVCenter);
    Accessibility::makeClickable(this, title, trailing == Switch ? QAccessible::CheckBox : QAccessible::Button);
    setAccessibleDescription(sub->text());
}

QString SettingItem::title() const
{
    return m_title->text();
}

void SettingItem::showSwitch(bool on)
{
    m_switchOn = on;
    Accessibility::setChecked(this, on);
    m_trailing->setPixmap(QPixmap(on ? QStringLiteral(":/assets/1.png") : QStringLiteral(":/assets/0.png"))
                              .scaled(SwitchSize, SwitchSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void SettingItem::showArrowOpen(bool open)
{
    m_trailing->setPixmap(arrowPicture(open));
}

void SettingItem::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QWidget::mousePressEvent(event);
}

void SettingItem::paintEvent(QPaintEvent *)
{
    paintCard(this, underMouse());
}

SettingCard::SettingCard(const QString &iconPath, QWidget *content, QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(14, 6, 14, 6);
    row->setSpacing(12);
    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("lblIcon"));
    icon->setFixedSize(IconSize, IconSize);
    icon->setPixmap(QPixmap(iconPath).scaled(IconSize, IconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    content->setParent(this);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addWidget(content, 1);
}

void SettingCard::paintEvent(QPaintEvent *)
{
    paintCard(this, underMouse());
}

SettingExpander::SettingExpander(const QString &iconPath, const QString &title, const QString &subtitle,
                                 QWidget *parent)
    : SettingItem(iconPath, title, subtitle, Arrow, parent)
{
}

void SettingExpander::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_open = !m_open;
        showArrowOpen(m_open);
    }
    SettingItem::mousePressEvent(event);
}

SettingProtocolButton::SettingProtocolButton(QWidget *parent)
    : SettingExpander(QStringLiteral(":/assets/protocol.png"), QStringLiteral("Protocol"),
                      QStringLiteral("Choose a type of protocol"), parent)
{
}

NetworkProtection::NetworkProtection(QWidget *parent)
    : SettingItem(QStringLiteral(":/assets/network protection.png"), QStringLiteral("Network Protection"),
                  QStringLiteral("Discover local unprotected network"), Arrow, parent)
{
}

SettingKillSwitch::SettingKillSwitch(QWidget *parent)
    : SettingItem(QStringLiteral(":/assets/kill switch.png"), QStringLiteral("Kill Switch"),
                  QStringLiteral("Block unprotected traffic if VPN \ndrops or turned off"), Switch, parent)
{
}

void SettingKillSwitch::showEvent(QShowEvent *event)
{
    SettingItem::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        auto config = Config::instance();
        config->load();
        showSwitch(config->killSwitch());
    });
}

bool SettingKillSwitch::toggle()
{
    // The new face first: the script below may take a moment.
    auto config = Config::instance();
    config->load();
    showSwitch(!config->killSwitch());
    if (isVisible())
        repaint();
    const bool on = KillSwitch::toggle(this, [this](bool nowOn, const QString &error) {
        // The firewall did not follow: the switch shows what is in force, and why.
        showSwitch(nowOn);
        auto *box = new DBox(this);
        box->setObjectName(QStringLiteral("killSwitchFailedBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setTitle(QStringLiteral("The kill switch could not be changed"));
        box->setText(error);
        box->setSubmitText(QStringLiteral("Ok"));
        connect(box, &DBox::submit, box, &QDialog::accept);
        box->show();
    });
    showSwitch(on);
    return on;
}

void SettingKillSwitch::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        toggle();
    SettingItem::mousePressEvent(event);
}

SettingStartWithSystem::SettingStartWithSystem(QWidget *parent)
    : SettingItem(QStringLiteral(":/assets/logo.png"), QStringLiteral("Start with the system"),
                  QStringLiteral("Start TavrixVPN minimized when you log in"), Switch, parent)
{
}

void SettingStartWithSystem::showEvent(QShowEvent *event)
{
    SettingItem::showEvent(event);
    showSwitch(startsAtLogin());
}

void SettingStartWithSystem::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const bool wanted = !startsAtLogin();
        if (!setStartAtLogin(wanted))
            qWarning() << "The start-at-login entry could not be changed";
        showSwitch(startsAtLogin());
    }
    SettingItem::mousePressEvent(event);
}

SettingGeneralButton::SettingGeneralButton(QWidget *parent)
    : SettingExpander(QStringLiteral(":/assets/general.png"), QStringLiteral("General"),
                      QStringLiteral("More setting here to custom your \nVPN setting"), parent)
{
}

SettingAutoConnectButton::SettingAutoConnectButton(QWidget *parent)
    : SettingItem(QStringLiteral(":/assets/auto connect.png"), QStringLiteral("Auto Connect"),
                  QStringLiteral("Customize your conncect setting \neasily"), Switch, parent)
{
}

void SettingAutoConnectButton::showEvent(QShowEvent *event)
{
    SettingItem::showEvent(event);
    auto config = Config::instance();
    config->load();
    showSwitch(config->autoConncet());
}

void SettingAutoConnectButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    auto config = Config::instance();
    config->load();
    const bool on = !config->autoConncet();
    config->setAutoConncet(on);
    showSwitch(on);
    config->save();
    SettingItem::mousePressEvent(event);
}

AppCrashReportButton::AppCrashReportButton(QWidget *parent)
    : SettingItem(QStringLiteral(":/img/app crash.png"), QStringLiteral("App Crash Report"),
                  QStringLiteral("Automatically send a report if app crashed"), Switch, parent)
{
}

NotificationButton::NotificationButton(QWidget *parent)
    : SettingItem(QStringLiteral(":/img/no notifications.png"), QStringLiteral("Notification"),
                  QStringLiteral("Enabel basic notifications"), Switch, parent)
{
}

void NotificationButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        showSwitch(!switchShownOn());
    SettingItem::mousePressEvent(event);
}

DarkWebMonitor::DarkWebMonitor(QWidget *parent)
    : SettingItem(QStringLiteral(":/assets/darkWeb.png"), QStringLiteral("Dark Web Monitoring"),
                  QStringLiteral("Track online presence and explore the \nweb without fear"), Arrow, parent)
{
}

} // namespace Tavrix
