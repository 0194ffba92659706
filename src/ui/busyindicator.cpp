#include "busyindicator.h"

#include <QAbstractButton>
#include <QMovie>

namespace Tavrix {

BusyIndicator::BusyIndicator(QObject *parent)
    : QObject(parent)
    , m_movie(new QMovie(QStringLiteral(":/assets/Spinner-1s-50px.gif"), QByteArray(), this))
{
    connect(m_movie, &QMovie::frameChanged, this, &BusyIndicator::showFrame);
}

BusyIndicator::~BusyIndicator()
{
    stop();
}

void BusyIndicator::start(QAbstractButton *button)
{
    if (!button)
        return;
    if (m_button && m_button != button)
        stop();
    if (m_button != button) {
        m_button = button;
        m_text = button->text();
        m_icon = button->icon();
        m_iconSize = button->iconSize();
        m_wasEnabled = button->isEnabled();
    }
    // A second press while the request runs must not start a second one.
    button->setEnabled(false);
    button->setText(QString());
    button->setIconSize(QSize(29, 29));
    m_movie->start();
    showFrame();
}

void BusyIndicator::stop()
{
    m_movie->stop();
    if (!m_button)
        return;
    m_button->setIcon(m_icon);
    m_button->setIconSize(m_iconSize);
    m_button->setText(m_text);
    m_button->setEnabled(m_wasEnabled);
    m_button.clear();
}

bool BusyIndicator::isRunning() const
{
    return !m_button.isNull();
}

void BusyIndicator::showFrame()
{
    if (!m_button)
        return;
    const QPixmap frame = m_movie->currentPixmap();
    if (frame.isNull())
        return;
    const int side = m_button->height() > 0 ? m_button->height() : 29;
    m_button->setText(QString());
    m_button->setIcon(QIcon(frame.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

} // namespace Tavrix
