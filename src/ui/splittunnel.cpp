#include "ui/splittunnel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "common/config.h"
#include "ui/accessibility.h"

namespace Tavrix {

SplitTunnel::SplitTunnel(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("splitTunnel"));
    setCursor(Qt::PointingHandCursor);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *title = new QLabel(QStringLiteral("Split Tunnel"), this);
    title->setObjectName(QStringLiteral("lblSplitTunnelTitle"));
    auto *description = new QLabel(QStringLiteral("Disable VPN for selected apps"), this);
    description->setObjectName(QStringLiteral("lblSplitTunnelText"));
    description->setWordWrap(true);
    texts->addWidget(title);
    texts->addWidget(description);
    row->addLayout(texts, 1);
    m_switch = new QLabel(this);
    m_switch->setObjectName(QStringLiteral("lblSplitTunnelSwitch"));
    m_switch->setFixedSize(32, 32);
    row->addWidget(m_switch);
    showSwitch(Config::isSplitTunnelEnabled());
    Accessibility::makeClickable(this, QStringLiteral("Split Tunnel"), QAccessible::CheckBox);
}

void SplitTunnel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] { showSwitch(Config::isSplitTunnelEnabled()); });
}

void SplitTunnel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const bool wasOn = Config::isSplitTunnelEnabled();
    showSwitch(!wasOn);
    if (wasOn)
        emit splitTunnelOff();
    else
        emit splitTunnelOn();
    Config::setSplitTunnelEnabled(!wasOn);
    emit clicked();
}

void SplitTunnel::showSwitch(bool on)
{
    m_switch->setPixmap(QPixmap(on ? QStringLiteral(":/assets/1.png") : QStringLiteral(":/assets/0.png"))
                            .scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    Accessibility::setChecked(this, on);
}

} // namespace Tavrix
