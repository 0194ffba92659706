#include "ui/servers/gammingserverbutton.h"

#include <QDebug>
#include <QLabel>

#include <cstdlib>

namespace Tavrix {

GammingServerButton::GammingServerButton(QWidget *parent)
    : QuickServerButton(QStringLiteral("lblText"), parent)
{
    setObjectName(QStringLiteral("gammingServer"));
    m_lblTitle->setText(QStringLiteral("Gaming"));
    m_lblSubtitle->setText(QStringLiteral("Recommended"));
    m_lblLogo->setPixmap(QPixmap(QStringLiteral(":/assets/gamming-server.png"))
                             .scaled(36, 36, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void GammingServerButton::onStatusChanged(OpenConnectConnection::Status status)
{
    QuickServerButton::onStatusChanged(status);
    const QString icon = isConnectedLook() ? QStringLiteral(":/assets/gamming_white.png")
                                           : QStringLiteral(":/assets/gamming-server.png");
    m_lblLogo->setPixmap(QPixmap(icon).scaled(40, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void GammingServerButton::pressed()
{
    const QVector<IPBundlePtr> list = candidates([](const IPBundle &b) { return b.is_gaming() != 0; });
    const int r = std::rand();
    if (list.isEmpty())
        return;
    const int index = r % list.size();
    qDebug() << "randome number:::" << index;
    makeActive(list.at(index));
    emit GammingServerClicked();
}

} // namespace Tavrix
