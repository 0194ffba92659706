#include "ui/servers/serverbuttoncustomwidget.h"

#include <QPainter>

namespace Tavrix {

ServerButtonCustomWidget::ServerButtonCustomWidget(QWidget *parent)
    : QWidget(parent)
{
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &ServerButtonCustomWidget::onStatusChanged);
}

void ServerButtonCustomWidget::onStatusChanged(OpenConnectConnection::Status status)
{
    m_connected = status == OpenConnectConnection::CONNECTED;
    update();
}

void ServerButtonCustomWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_connected ? QColor(98, 27, 36) : QColor(Qt::white));
    painter.drawRoundedRect(rect(), 6, 6);
}

} // namespace Tavrix
