// tavrix-devservice: the VPN service's backend on loopback, for the demo and the tests.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "certificate.h"
#include "devserver.h"

using Tavrix::Dev::DevServer;

int main(int argc, char *argv[])
{
    // Signals are taken by one waiting thread; a dropped connection must not kill us.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrix-devservice"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local development service of the TavrixVPN client: the configuration documents and the\n"
                       "account API over HTTPS on loopback, with a self-signed certificate.\n"
                       "\n"
                       "Test switches (HTTP, on the same origin):\n"
                       "  POST /__control/set       path=P (exact, or a prefix ending in *) mode=M, where M is\n"
                       "                            normal, down, slow, never, empty, malformed, status or body;\n"
                       "                            status=N (status, body), delay_ms=N (slow), message=T, body=B\n"
                       "  POST /__control/reset     every path back to normal, accounts and request log reset\n"
                       "  GET  /__control/requests  the requests received so far, as JSON"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("host"), QStringLiteral("Address to listen on."), QStringLiteral("host"),
                      QStringLiteral("127.0.0.1")});
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port; 0 picks a free one."), QStringLiteral("port"),
                      QStringLiteral("8443")});
    parser.addOption({QStringLiteral("cert-dir"), QStringLiteral("Folder of cert.pem and key.pem (made when missing)."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("name"),
                      QStringLiteral("A host name the certificate also names (a lab's name for the service)."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("openconnect-server"), QStringLiteral("Address of the OpenConnect servers."),
                      QStringLiteral("host[:port]")});
    parser.addOption({QStringLiteral("openconnect-pin"),
                      QStringLiteral("Pin (pin-sha256:...) of that server's key, sent in its entries."),
                      QStringLiteral("pin")});
    parser.addOption({QStringLiteral("openconnect-user"), QStringLiteral("Adds a premium account with this user name."),
                      QStringLiteral("user")});
    parser.addOption({QStringLiteral("openconnect-password"), QStringLiteral("Password of that account."),
                      QStringLiteral("password")});
    parser.addOption({QStringLiteral("openvpn-server"), QStringLiteral("Address of the OpenVPN servers (UDP)."),
                      QStringLiteral("host:port")});
    parser.addOption({QStringLiteral("openvpn-ca"), QStringLiteral("CA certificate (PEM) of that OpenVPN server."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("wireguard-config"),
                      QStringLiteral("WireGuard configuration handed out for every WireGuard server."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("shadowsocks-server"),
                      QStringLiteral("Address of a real Shadowsocks server (chacha20-ietf-poly1305) for the "
                                     "Shadowsocks entries."),
                      QStringLiteral("host:port")});
    parser.addOption({QStringLiteral("shadowsocks-password"), QStringLiteral("Password of that server."),
                      QStringLiteral("password")});
    parser.addOption({QStringLiteral("vmess-server"),
                      QStringLiteral("Address of a real VMess server (TCP) for the V2Ray entries."),
                      QStringLiteral("host:port")});
    parser.addOption({QStringLiteral("vmess-id"), QStringLiteral("User id on that server."), QStringLiteral("uuid")});
    // Unknown options are a usage error (2), not a start with defaults.
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "tavrix-devservice: %s\n\n%s", qPrintable(parser.errorText()),
                     qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tavrix-devservice: unexpected argument %s\n\n%s",
                     qPrintable(parser.positionalArguments().first()), qPrintable(parser.helpText()));
        return 2;
    }

    bool portOk = false;
    const int port = parser.value(QStringLiteral("port")).toInt(&portOk);
    if (!portOk || port < 0 || port > 65535) {
        std::fprintf(stderr, "tavrix-devservice: invalid port\n");
        return 2;
    }
    if (parser.isSet(QStringLiteral("openconnect-user")) != parser.isSet(QStringLiteral("openconnect-password"))) {
        std::fprintf(stderr, "tavrix-devservice: --openconnect-user and --openconnect-password go together\n");
        return 2;
    }

    QTemporaryDir tempCertDir; // removed at exit when no --cert-dir is given
    const QString certDir =
        parser.isSet(QStringLiteral("cert-dir")) ? parser.value(QStringLiteral("cert-dir")) : tempCertDir.path();
    DevServer::Options options;
    QString error;
    if (!Tavrix::Dev::ensureCertificate(QDir(certDir).absolutePath(), parser.values(QStringLiteral("name")),
                                        &options.certificate, &error)) {
        std::fprintf(stderr, "tavrix-devservice: %s\n", qPrintable(error));
        return 1;
    }
    options.host = parser.value(QStringLiteral("host"));
    options.port = port;
    options.openConnectServer = parser.value(QStringLiteral("openconnect-server"));
    options.openConnectPin = parser.value(QStringLiteral("openconnect-pin"));
    options.openConnectUser = parser.value(QStringLiteral("openconnect-user"));
    options.openConnectPassword = parser.value(QStringLiteral("openconnect-password"));
    if (parser.isSet(QStringLiteral("openvpn-server")) != parser.isSet(QStringLiteral("openvpn-ca"))) {
        std::fprintf(stderr, "tavrix-devservice: --openvpn-server and --openvpn-ca go together\n");
        return 2;
    }
    if (parser.isSet(QStringLiteral("openvpn-ca"))) {
        QFile ca(parser.value(QStringLiteral("openvpn-ca")));
        if (!ca.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "tavrix-devservice: cannot read %s\n", qPrintable(ca.fileName()));
            return 2;
        }
        options.openVpnServer = parser.value(QStringLiteral("openvpn-server"));
        options.openVpnCaPem = QString::fromLatin1(ca.readAll());
    }
    options.shadowsocksServer = parser.value(QStringLiteral("shadowsocks-server"));
    options.shadowsocksPassword = parser.value(QStringLiteral("shadowsocks-password"));
    options.vmessServer = parser.value(QStringLiteral("vmess-server"));
    options.vmessId = parser.value(QStringLiteral("vmess-id"));
    if (parser.isSet(QStringLiteral("wireguard-config"))) {
        QFile file(parser.value(QStringLiteral("wireguard-config")));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "tavrix-devservice: cannot read %s\n", qPrintable(file.fileName()));
            return 2;
        }
        options.wireGuardConfig = QString::fromUtf8(file.readAll());
    }

    DevServer server(options);
    if (!server.bind(&error)) {
        std::fprintf(stderr, "tavrix-devservice: %s\n", qPrintable(error));
        return 1;
    }

    std::printf("LISTENING %s\n", qPrintable(server.origin()));
    std::printf("CA %s\n", qPrintable(options.certificate.certPath));
    std::printf("Demo accounts (e-mail / password):\n");
    // Padded by characters, not bytes: passwords may be non-ASCII.
    for (const Tavrix::Dev::Account &a : server.accounts().demoAccounts())
        std::printf("  %s %s %s\n", a.email.leftJustified(26).toUtf8().constData(),
                    a.password.leftJustified(16).toUtf8().constData(), a.note.toUtf8().constData());
    std::printf("Vouchers: TAVRIX-30DAYS, TAVRIX-1YEAR (TAVRIX-USED is spent)\n");
    std::printf("Clients: TAVRIXVPN_SERVICE_URL=%s TAVRIXVPN_SERVICE_CA=%s\n", qPrintable(server.origin()),
                qPrintable(options.certificate.certPath));
    std::fflush(stdout);

    // Open keep-alive connections would hold the server's threads for seconds after stop();
    // nothing is kept on disk, so the waiter ends the process once the server has had a
    // moment to finish answering.
    std::thread waiter([&server, &tempCertDir, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        tempCertDir.remove();
        std::fflush(stdout);
        ::_exit(0);
    });
    waiter.detach();
    server.run();
    tempCertDir.remove();
    return 0;
}
