// The demo's test network: an AnyConnect server in one network namespace and an empty client
// namespace beside it, up until this program gets SIGTERM, SIGINT or SIGHUP. scripts/demo runs
// the development service and the client inside the client namespace, so that Connect reaches a
// real server without touching the host's own network.
//
// Prints, flushed: "OVPN_SERVER <address:port>" and "OVPN_CA <file>" (or "OVPN_UNAVAILABLE
// <reason>"), "CLIENT_NS <name>", "OCSERV <address:port>", "OCUSER <user>", "OCPASS <password>"
// and "READY"; or "UNAVAILABLE <reason>" and exits 3 when this machine cannot host it.

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#include "netns.h"
#include "openvpnlab.h"

using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;

int main(int argc, char *argv[])
{
    // Block the stop signals before any thread exists, then wait for one of them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stopSignals, s);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    const QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("ocserv"), QStringLiteral("ocpasswd"), QStringLiteral("certtool")});
    if (!reason.isEmpty()) {
        printf("UNAVAILABLE %s\n", qPrintable(reason));
        return 3;
    }

    NetnsLab lab;
    OcservServer server(lab);
    QString error;
    if (!lab.up(&error) || !server.makeCredentials(&error) || !server.start(OcservServer::NoGroups, &error)) {
        printf("UNAVAILABLE %s\n", qPrintable(error));
        return 3;
    }
    // OpenVPN beside it, accepting the same user; the demo goes on without it when it cannot start.
    std::unique_ptr<TavrixTest::OpenVpnServer> openVpn;
    if (!TavrixTest::tunnelSkipReason({QStringLiteral("openvpn")}).isEmpty()) {
        printf("OVPN_UNAVAILABLE openvpn is not installed\n");
    } else {
        openVpn = std::make_unique<TavrixTest::OpenVpnServer>(lab);
        if (openVpn->makeCredentials({{QStringLiteral("testuser"), QStringLiteral("testpass")}}, &error) &&
            openVpn->start(&error))
            printf("OVPN_SERVER %s\nOVPN_CA %s\n", qPrintable(openVpn->address()), qPrintable(openVpn->caFile()));
        else
            printf("OVPN_UNAVAILABLE %s\n", qPrintable(error.simplified()));
    }
    printf("CLIENT_NS %s\nOCSERV %s:%d\nOCUSER testuser\nOCPASS testpass\nREADY\n", qPrintable(lab.clientNs()),
           NetnsLab::serverAddress, OcservServer::port);
    fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    openVpn.reset();
    server.stop();
    lab.down();
    return 0;
}
