#include "ui/servers/fastestserverbutton.h"

#include <QDebug>
#include <QLabel>
#include <QTimer>

#include "common/config.h"
#include "ui/servers/circularflag.h"

namespace Tavrix {

namespace {
const int kFlagHeight = 40;
}

FastestServerButton::FastestServerButton(QWidget *parent)
    : QuickServerButton(QStringLiteral("lblName"), parent)
{
    setObjectName(QStringLiteral("fastServer"));
    m_lblSubtitle->setText(QStringLiteral("Fastest Server"));
    m_lblTitle->setText(QStringLiteral("Fastest"));
    m_lblLogo->setPixmap(QPixmap(QStringLiteral(":/assets/high-speed-server.png"))
                             .scaled(36, 36, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void FastestServerButton::pressed()
{
    const QVector<IPBundlePtr> list = candidates([](const IPBundle &b) { return b.is_fast_server() != 0; });
    if (!list.isEmpty()) {
        const IPBundlePtr bundle = list.at(m_counter % list.size());
        makeActive(bundle);
        m_lblSubtitle->setText(QStringLiteral("Fastest Server"));
        m_lblTitle->setText(bundle->countryName());
        const QPixmap flag = circularFlag(bundle->countryCode(), kFlagHeight);
        if (!flag.isNull())
            m_lblLogo->setPixmap(flag);
        emit fastestServerClicked();
    }
    ++m_counter;
}

void FastestServerButton::selectRandomBundil()
{
    auto config = Config::instance();
    if (!config->fastestServer().isEmpty())
        m_lblTitle->setText(config->fastestServer());
    const QPixmap flag = circularFlag(config->fastestCountryCode(), kFlagHeight);
    if (!flag.isNull())
        m_lblLogo->setPixmap(flag);
    m_lblSubtitle->setText(QStringLiteral("Fastest Server"));
}

void FastestServerButton::autoConnectOnce()
{
    if (m_autoConnectDone)
        return;
    m_autoConnectDone = true;
    auto config = Config::instance();
    config->load();
    if (!config->autoConncet() || config->connectionState())
        return;
    if (OpenConnectConnection::instance()->status() != OpenConnectConnection::IDLE)
        return;
    qDebug() << "emit a singal for autoconncet";
    emit fastestServerClicked();
}

void FastestServerButton::showEvent(QShowEvent *event)
{
    QuickServerButton::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        selectRandomBundil();
        autoConnectOnce();
    });
}

} // namespace Tavrix
