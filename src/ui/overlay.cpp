#include "ui/overlay.h"

#include <QDebug>
#include <QEvent>
#include <QPainter>

#include "ui/msgbox.h"

namespace Tavrix {

Overlay::Overlay(QWidget *mainWindow)
    : QWidget(mainWindow)
{
    setObjectName(QStringLiteral("overlay"));
    setAttribute(Qt::WA_DeleteOnClose);
    if (mainWindow)
        setGeometry(mainWindow->rect());
}

void Overlay::follow(QWidget *popup)
{
    popup->installEventFilter(this);
    connect(popup, &QObject::destroyed, this, &QObject::deleteLater);
}

void Overlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 110));
}

bool Overlay::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Hide)
        deleteLater();
    return QWidget::eventFilter(watched, event);
}

void showWithOverlay(QWidget *widget)
{
    if (!widget) {
        qDebug() << "Instance is null";
        return;
    }
    if (QWidget *window = MsgBox::parentWindow()) {
        auto *overlay = new Overlay(window);
        overlay->follow(widget);
        overlay->show();
        overlay->raise();
    }
    widget->show();
    widget->raise();
}

} // namespace Tavrix
