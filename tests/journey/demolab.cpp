// The demo's test network: an AnyConnect server in one network namespace and an empty client
// namespace beside it, up until this program gets SIGTERM, SIGINT or SIGHUP. scripts/demo runs
// the development service and the client inside the client namespace, so that Connect reaches a
// real server without touching the host's own network.
//
// Prints, flushed: "CLIENT_NS <name>", "OCSERV <address:port>", "OCUSER <user>", "OCPASS <password>"
// and "READY"; or "UNAVAILABLE <reason>" and exits 3 when this machine cannot host it.
// With wireguard-go installed, a WireGuard peer runs beside the AnyConnect server, and
// "WGCONFIG <file>" names the client configuration for it (the development service hands it
// out for every WireGuard server).

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#include "netns.h"
#include "wglab.h"

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
    TavrixTest::WireGuardPeer wireGuard(lab);
    if (!QStandardPaths::findExecutable(QStringLiteral("wireguard-go")).isEmpty() &&
        !QStandardPaths::findExecutable(QStringLiteral("wg")).isEmpty() && wireGuard.start(&error)) {
        const QString file = lab.dir() + QStringLiteral("/wireguard-client.conf");
        QFile config(file);
        if (config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            config.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            config.write(wireGuard.clientConfig().toLatin1());
            config.close();
            printf("WGCONFIG %s\n", qPrintable(file));
        }
    }
    printf("CLIENT_NS %s\nOCSERV %s:%d\nOCUSER testuser\nOCPASS testpass\nREADY\n", qPrintable(lab.clientNs()),
           NetnsLab::serverAddress, OcservServer::port);
    fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    wireGuard.stop();
    lab.down();
    return 0;
}
