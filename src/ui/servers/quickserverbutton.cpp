#include "ui/servers/quickserverbutton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "common/config.h"
#include "common/user.h"
#include "ui/servers/elidedlabel.h"

namespace Tavrix {

QuickServerButton::QuickServerButton(const QString &subtitleName, QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(64);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    m_lblLogo = new QLabel(this);
    m_lblLogo->setObjectName(QStringLiteral("lblLogo"));
    m_lblLogo->setFixedSize(40, 40);
    m_lblLogo->setAlignment(Qt::AlignCenter);
    m_lblTitle = new ElidedLabel(this);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    m_lblSubtitle = new QLabel(this);
    m_lblSubtitle->setObjectName(subtitleName);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addStretch();
    texts->addWidget(m_lblTitle);
    texts->addWidget(m_lblSubtitle);
    texts->addStretch();

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 6, 8);
    layout->setSpacing(6);
    layout->addWidget(m_lblLogo);
    layout->addLayout(texts, 1);

    applyTextColours();
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &QuickServerButton::onStatusChanged);
}

void QuickServerButton::onStatusChanged(OpenConnectConnection::Status status)
{
    m_connected = status == OpenConnectConnection::CONNECTED;
    applyTextColours();
    update();
}

void QuickServerButton::applyTextColours()
{
    const QString colour = m_connected ? QStringLiteral("#FFFFFF") : QStringLiteral("#434343");
    m_lblTitle->setStyleSheet(
        QStringLiteral("color: %1; font-size: 18px; font-weight: 600; background: transparent;").arg(colour));
    m_lblSubtitle->setStyleSheet(QStringLiteral("color: %1; font-size: 14px; background: transparent;").arg(colour));
}

void QuickServerButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_connected ? QColor(158, 51, 64) : QColor(225, 225, 225));
    painter.drawRoundedRect(rect(), 6, 6);
}

void QuickServerButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        pressed();
    QWidget::mousePressEvent(event);
}

QVector<IPBundlePtr> QuickServerButton::candidates(const std::function<bool(const IPBundle &)> &test)
{
    QVector<IPBundlePtr> result;
    for (const IPBundlePtr &bundle : User::instance()->bundles()) {
        if (bundle && test(*bundle))
            result.append(bundle);
    }
    return result;
}

void QuickServerButton::makeActive(const IPBundlePtr &bundle)
{
    auto config = Config::instance();
    config->setActiveServer(bundle->ip_id());
    config->save();
}

} // namespace Tavrix
