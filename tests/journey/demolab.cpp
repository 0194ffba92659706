// The demo's test network: an AnyConnect server in one network namespace and an empty client
// namespace beside it, up until this program gets SIGTERM, SIGINT or SIGHUP. scripts/demo runs
// the development service and the client inside the client namespace, so that Connect reaches a
// real server without touching the host's own network.
//
// Prints, flushed: "CLIENT_NS <name>", "OCSERV <address:port>", "OCUSER <user>", "OCPASS <password>",
// when the proxy servers run "SSSERVER <address:port>", "SSPASS <password>", "VMESS <address:port>",
// "VMESSID <id>", when a WireGuard peer runs "WGCONFIG <file>" (the client configuration for it,
// which the development service hands out for every WireGuard server), and "READY"; or
// "UNAVAILABLE <reason>" and exits 3 when this machine cannot host it.
// Also "OVPN_SERVER <address:port>" and "OVPN_CA <file>" (or "OVPN_UNAVAILABLE <reason>") for
// the OpenVPN server beside them, before "READY".

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "netns.h"
#include "openvpnlab.h"
#include "proxylab.h"
#include "wglab.h"

using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;

int main(int argc, char *argv[])
{
    // Nothing is started for --help or a bad command line.
    if (argc > 1) {
        const bool help = !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h");
        fprintf(help ? stdout : stderr,
                "%sUsage: tavrix-demo-lab\n"
                "Runs the demo's AnyConnect server in a network namespace of its own (root only) until\n"
                "SIGTERM, SIGINT or SIGHUP, and prints CLIENT_NS, OCSERV, OCUSER, OCPASS and READY,\n"
                "or UNAVAILABLE <reason> (exit 3). It takes no options.\n",
                help ? "" : "tavrix-demo-lab: takes no arguments\n");
        return help ? 0 : 2;
    }

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
        if (openVpn->makeCredentials({{QString::fromLatin1(OcservServer::demoUser), QStringLiteral("testpass")}},
                                     &error) &&
            openVpn->start(&error))
            printf("OVPN_SERVER %s\nOVPN_CA %s\n", qPrintable(openVpn->address()), qPrintable(openVpn->caFile()));
        else
            printf("OVPN_UNAVAILABLE %s\n", qPrintable(error.simplified()));
    }
    // The account is an e-mail address, so that a login link can sign it in too.
    printf("CLIENT_NS %s\nOCSERV %s:%d\nOCUSER %s\nOCPASS testpass\n", qPrintable(lab.clientNs()),
           NetnsLab::serverAddress, OcservServer::port, OcservServer::demoUser);
    // Shadowsocks and VMess servers for the proxy entries, where this machine has them.
    TavrixTest::ProxyServers proxies(lab);
    if (TavrixTest::tunnelSkipReason({QStringLiteral("ss-server"), QStringLiteral("v2ray"), QStringLiteral("python3")})
            .isEmpty() &&
        proxies.start(&error)) {
        printf("SSSERVER %s:%d\nSSPASS %s\nVMESS %s:%d\nVMESSID %s\n", NetnsLab::serverAddress,
               TavrixTest::ProxyServers::shadowsocksPort, TavrixTest::ProxyServers::password, NetnsLab::serverAddress,
               TavrixTest::ProxyServers::vmessPort, TavrixTest::ProxyServers::vmessId);
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
    printf("READY\n");
    fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    openVpn.reset();
    proxies.stop();
    server.stop();
    wireGuard.stop();
    lab.down();
    return 0;
}
