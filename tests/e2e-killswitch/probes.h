#pragma once

// Probes of the kill switch's leak test, sent from the client namespace: TCP, UDP, DNS and
// ICMP echo, each over IPv4 or IPv6, each marked with its own id (see leaklistener.cpp).
// Every probe waits at most a second and a half for its answer.

#include <QString>

namespace TavrixTest {

enum class ProbeKind { Tcp, Udp, Dns, Icmp };

struct ProbeResult
{
    bool answered = false;
    QString detail; // the answer ("ok <source seen>") or why there was none
};

ProbeResult sendProbe(ProbeKind kind, const QString &address, quint16 port, int id);
QString probeKindName(ProbeKind kind);

} // namespace TavrixTest
