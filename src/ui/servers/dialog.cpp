#include "ui/servers/dialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include "platform/compositing.h"

namespace Tavrix {

Dialog::Dialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Dialog"));
    // Rounded by a mask where the desktop cannot show translucent corners (they would be black).
    m_translucent = desktopComposites();
    if (m_translucent) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        QPainterPath path;
        path.addRoundedRect(QRectF(0, 0, 300, 80), 12, 12);
        setMask(QRegion(path.toFillPolygon().toPolygon()));
    }
    setFixedSize(300, 80);

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("lblIcon"));
    m_icon->setPixmap(
        QPixmap(QStringLiteral(":/assets/120.png")).scaled(40, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_icon->setFixedSize(44, 44);
    m_icon->setAlignment(Qt::AlignCenter);

    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("lblText"));
    m_text->setWordWrap(true);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(12);
    row->addWidget(m_icon);
    row->addWidget(m_text, 1);

    // Repeating, as the box may be shown again after it closed; every show starts a full
    // period so the text never vanishes early.
    m_closeTimer.setInterval(lifetimeMs);
    connect(&m_closeTimer, &QTimer::timeout, this, [this] {
        if (isVisible())
            accept();
    });
    m_closeTimer.start();
}

void Dialog::setText(const QString &text)
{
    m_text->setText(text);
}

QString Dialog::text() const
{
    return m_text->text();
}

void Dialog::showEvent(QShowEvent *event)
{
    placeOverParent();
    m_closeTimer.start();
    QDialog::showEvent(event);
}

void Dialog::mousePressEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
    accept();
}

void Dialog::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0xE2, 0xE2, 0xE2), 1));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
}

// Low in the middle of the window it belongs to, where a toast is expected; centred on the
// screen when it has no window.
void Dialog::placeOverParent()
{
    QRect area;
    if (QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr)
        area = owner->frameGeometry();
    else if (QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isEmpty())
        return;
    const int x = area.center().x() - width() / 2;
    const int y = area.bottom() - height() - qMax(24, area.height() / 8);
    move(x, qMax(area.top(), y));
}

} // namespace Tavrix
