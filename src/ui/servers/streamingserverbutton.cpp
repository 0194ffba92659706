#include "ui/servers/streamingserverbutton.h"

#include <QDebug>
#include <QLabel>

#include <cstdlib>

namespace Tavrix {

StreamingServerButton::StreamingServerButton(QWidget *parent)
    : QuickServerButton(QStringLiteral("lblText"), parent)
{
    setObjectName(QStringLiteral("stremmingServer"));
    m_lblTitle->setText(QStringLiteral("Streaming "));
    m_lblSubtitle->setText(QStringLiteral("Recommended"));
    m_lblLogo->setPixmap(QPixmap(QStringLiteral(":/assets/streamming-server.png"))
                             .scaled(36, 36, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void StreamingServerButton::onStatusChanged(OpenConnectConnection::Status status)
{
    QuickServerButton::onStatusChanged(status);
    const QString icon = isConnectedLook() ? QStringLiteral(":/assets/streamming_white.png")
                                           : QStringLiteral(":/assets/streamming-server.png");
    m_lblLogo->setPixmap(QPixmap(icon).scaled(40, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void StreamingServerButton::pressed()
{
    const QVector<IPBundlePtr> list = candidates([](const IPBundle &b) { return b.is_online_stream() != 0; });
    const int r = std::rand();
    if (!list.isEmpty()) {
        const IPBundlePtr bundle = list.at(r % list.size());
        qDebug() << "value for the rest of name" << bundle->ip_id();
        makeActive(bundle);
    }
    emit StreamingServerButtonClicked();
}

} // namespace Tavrix
