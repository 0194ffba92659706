#include "ui/card.h"

#include <QPainter>
#include <QPainterPath>

namespace Tavrix {

Card::Card(QWidget *parent)
    : QFrame(parent)
{
}

void Card::setFill(const QColor &colour)
{
    m_fill = colour;
    update();
}

void Card::setOutline(const QColor &colour)
{
    m_outline = colour;
    update();
}

void Card::setRadius(int radius)
{
    m_radius = radius;
    update();
}

void Card::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(m_outline.alpha() > 0 ? QPen(m_outline, 1) : Qt::NoPen);
    painter.setBrush(m_fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
    QFrame::paintEvent(event);
}

Badge::Badge(const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
}

void Badge::setFill(const QColor &colour)
{
    m_fill = colour;
    update();
}

void Badge::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area(rect());
        const qreal r = 10;
        QPainterPath path;
        path.moveTo(area.right(), area.top());
        path.lineTo(area.left() + r, area.top());
        path.arcTo(QRectF(area.left(), area.top(), 2 * r, 2 * r), 90, 90);
        path.lineTo(area.left(), area.bottom() - r);
        path.arcTo(QRectF(area.left(), area.bottom() - 2 * r, 2 * r, 2 * r), 180, 90);
        path.lineTo(area.right(), area.bottom());
        path.closeSubpath();
        painter.fillPath(path, m_fill);
    }
    QLabel::paintEvent(event);
}

} // namespace Tavrix
