#include "vpn/tunnelliveness.h"

namespace Tavrix {

void WireGuardLiveness::reset()
{
    m_started = false;
    m_dueSince = -1;
    m_answered = false;
    m_rx = 0;
    m_tx = 0;
}

void WireGuardLiveness::expectAnswer(qint64 nowMs)
{
    if (m_dueSince < 0)
        m_dueSince = nowMs;
    m_answered = false;
}

QString WireGuardLiveness::sample(qint64 nowMs, const HelperProto::WireGuardStats &stats, bool farSideAnswersEchoes)
{
    if (!stats.ok)
        return QString();
    if (!m_started) {
        m_started = true;
        m_startMs = nowMs;
        m_rx = stats.rxBytes;
        m_tx = stats.txBytes;
    }
    if (stats.rxBytes > m_rx) {
        m_dueSince = -1;
        m_answered = true;
    } else if (stats.txBytes > m_tx) {
        expectAnswer(nowMs);
    }
    m_rx = stats.rxBytes;
    m_tx = stats.txBytes;

    const int stallMs = farSideAnswersEchoes ? m_limits.answeringStallMs : m_limits.quietStallMs;
    if (m_dueSince >= 0 && nowMs - m_dueSince >= stallMs)
        return QStringLiteral("nothing came back through the tunnel for %1 s").arg((nowMs - m_dueSince) / 1000);
    const qint64 age = stats.handshakeAgeSeconds >= 0 ? stats.handshakeAgeSeconds : (nowMs - m_startMs) / 1000;
    if (age > m_limits.handshakeLimitSeconds)
        return stats.handshakeAgeSeconds >= 0
                   ? QStringLiteral("no handshake with the server for %1 s").arg(age)
                   : QStringLiteral("no handshake with the server since the tunnel started %1 s ago").arg(age);
    return QString();
}

} // namespace Tavrix
