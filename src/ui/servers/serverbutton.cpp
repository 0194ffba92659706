#include "ui/servers/serverbutton.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include "common/user.h"
#include "ui/accessibility.h"
#include "ui/brand.h"
#include "ui/servers/circularflag.h"
#include "ui/servers/elidedlabel.h"

namespace Tavrix {

namespace {
const int kFlagHeight = 48;
}

ServerButton::ServerButton(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("serverSelectWidget"));
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(72);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    m_lblFlag = new QLabel(this);
    m_lblFlag->setObjectName(QStringLiteral("lblFlag"));
    m_lblFlag->setFixedSize(kFlagHeight, kFlagHeight);
    m_lblFlag->setAlignment(Qt::AlignCenter);
    m_lblFlag->setPixmap(QPixmap(QStringLiteral(":/assets/tavrix-white-logo.png"))
                             .scaled(kFlagHeight, kFlagHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    m_lblChangeLocation = new QLabel(QStringLiteral("Selected Location"), this);
    m_lblChangeLocation->setObjectName(QStringLiteral("lblChangeLocation"));
    m_lblCountry = new ElidedLabel(QStringLiteral("No server selected"), this);
    m_lblCountry->setObjectName(QStringLiteral("lblCountry"));
    m_lblCity = new ElidedLabel(this);
    m_lblCity->setObjectName(QStringLiteral("lblCity"));
    m_lblArrow = new QLabel(QStringLiteral("\u203A"), this);
    m_lblArrow->setObjectName(QStringLiteral("lblArrow"));

    auto *texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(m_lblChangeLocation);
    texts->addWidget(m_lblCountry);
    texts->addWidget(m_lblCity);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 16, 10);
    layout->setSpacing(12);
    layout->addWidget(m_lblFlag);
    layout->addLayout(texts, 1);
    layout->addWidget(m_lblArrow);

    Accessibility::makeClickable(this, QStringLiteral("Selected Location: no server selected"));
    // The initial texts stay until the first show or status change: no account is signed in yet.
    applyColours();
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &ServerButton::onStatusChanged);
}

void ServerButton::onStatusChanged(OpenConnectConnection::Status status)
{
    m_status = status;
    refresh();
}

void ServerButton::applyColours()
{
    const bool linked = m_status != OpenConnectConnection::IDLE;
    // White over the connected picture (the "linked" rules of the style sheet).
    for (QLabel *label : {m_lblChangeLocation, m_lblCountry, m_lblCity, m_lblArrow})
        Brand::setStyleState(label, "linked", linked);
    update();
}

void ServerButton::refresh()
{
    applyColours();
    m_lblChangeLocation->setText(QStringLiteral("Selected Location"));
    const IPBundlePtr bundle = User::instance()->activeBundle();
    if (!bundle) {
        qCritical() << "An unknown error occurred";
        return;
    }
    m_lblCountry->setText(bundle->countryName());
    m_lblCity->setText(bundle->ipName());
    setAccessibleName(QStringLiteral("Selected Location: %1, %2").arg(bundle->ipName(), bundle->countryName()));
    m_lblFlag->setAccessibleName(bundle->countryName());
    const QPixmap flag = circularFlag(bundle->countryCode(), kFlagHeight);
    if (!flag.isNull())
        m_lblFlag->setPixmap(flag);
}

void ServerButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool linked = m_status != OpenConnectConnection::IDLE;
    // Brand red under the white texts once a connection exists; while idle the dark texts
    // need a light card, so only the frame stays red.
    painter.setPen(QPen(QColor(191, 30, 46), 2));
    painter.setBrush(linked ? QColor(191, 30, 46) : QColor(255, 255, 255));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
}

void ServerButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QWidget::mousePressEvent(event);
}

void ServerButton::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, &ServerButton::refresh);
}

} // namespace Tavrix
