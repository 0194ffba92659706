#pragma once

#include <QString>

#include "helperproto/wireguardstats.h"

namespace Tavrix {

// Whether a WireGuard tunnel still carries traffic, from what its device says, sampled every
// few seconds. A WireGuard peer answers everything but a bare keep-alive: a reply, a handshake,
// or at the latest its own keep-alive 10 s after our data (the protocol's passive keep-alive).
// So the tunnel is lost when something went out and nothing came back for longer than that,
// or sooner where the far side answers our echoes, and in any case when no handshake has
// completed for longer than a session may live.
class WireGuardLiveness
{
public:
    struct Limits
    {
        // Nothing back this long after we sent: lost, where the far side answers echoes.
        int answeringStallMs = 3000;
        // The same where it does not: the passive keep-alive (10 s) and a handshake's time-out
        // (5 s), with a margin.
        int quietStallMs = 18000;
        // A session's keys are refused 180 s after its handshake; a live tunnel that carries
        // anything has a new one after 120 s. Margin for the retries in between.
        qint64 handshakeLimitSeconds = 195;
    };

    void setLimits(const Limits &limits) { m_limits = limits; }
    // A new tunnel (a new device, counters from 0).
    void reset();
    // Something was sent that the far side answers (an echo, or a check after a network
    // change): from now on nothing coming back counts.
    void expectAnswer(qint64 nowMs);
    // One reading of the device. Returns why the tunnel counts as lost, or an empty text.
    // farSideAnswersEchoes: an echo through this tunnel has been answered before.
    QString sample(qint64 nowMs, const HelperProto::WireGuardStats &stats, bool farSideAnswersEchoes);
    // Something came back since the last expectAnswer (rx grew, or a handshake completed).
    bool answeredSince() const { return m_answered; }

private:
    Limits m_limits;
    bool m_started = false;
    qint64 m_startMs = 0;
    quint64 m_rx = 0;
    quint64 m_tx = 0;
    // Since when an answer has been due; -1 when none is.
    qint64 m_dueSince = -1;
    bool m_answered = false;
};

} // namespace Tavrix
