// The privileged helper: the only part of TavrixVPN that changes the network. A system service
// on the system bus (or, without systemd, in the foreground against a given bus).

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "helper/helperservice.h"
#include "helper/runtimefolder.h"
// kill switch
#include "helper/killswitchkeeper.h"
#include "helper/tundevice.h"
#include "helper/wireguardtunnel.h"
// Outline and split tunnelling
#include "helper/bypassgroup.h"

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

// A tunnel's engine takes its routes down on SIGTERM: at the helper's end every tunnel is
// stopped that way, not killed with the helper.
void stopTunnelsOnSignals(Tavrix::HelperService *service)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, service);
    QObject::connect(notifier, &QSocketNotifier::activated, service, [service, notifier] {
        char byte;
        (void)!::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        service->stopAll([] { QCoreApplication::quit(); });
        QTimer::singleShot(10000, qApp, &QCoreApplication::quit);
    });
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrixvpn-helper"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("TavrixVPN's privileged helper (runs as root)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption busOption(QStringLiteral("bus"),
                                       QStringLiteral("Serve on this D-Bus address instead of the system bus."),
                                       QStringLiteral("address"));
    const QCommandLineOption runtimeOption(QStringLiteral("runtime-dir"),
                                           QStringLiteral("Root-only folder for the tunnels' files."),
                                           QStringLiteral("folder"), QStringLiteral("/run/tavrixvpn"));
    parser.addOption(busOption);
    parser.addOption(runtimeOption);
    // kill switch
    const QCommandLineOption stateOption(QStringLiteral("state-dir"),
                                         QStringLiteral("Root-only folder for what must outlast a restart."),
                                         QStringLiteral("folder"), QStringLiteral("/var/lib/tavrixvpn"));
    const QCommandLineOption restoreOption(QStringLiteral("restore-kill-switch"),
                                           QStringLiteral("Apply the stored kill switch blocks and exit (at boot)."));
    parser.addOption(stateOption);
    parser.addOption(restoreOption);
    parser.process(app);

    if (::geteuid() != 0) {
        qCritical("tavrixvpn-helper: must run as root");
        return 1;
    }
    // kill switch: at boot, before any network is up, without a bus.
    if (parser.isSet(restoreOption)) {
        Tavrix::KillSwitchKeeper(QDBusConnection(QString()), parser.value(stateOption)).restoreStored();
        return 0;
    }
    Tavrix::RuntimeFolder folder;
    QString error;
    if (!folder.prepare(parser.value(runtimeOption), &error)) {
        qCritical().noquote() << QStringLiteral("tavrixvpn-helper:") << error;
        return 1;
    }
    // OpenConnect tun device
    Tavrix::TunDevice::removeLeftovers(folder);
    Tavrix::WireGuardTunnel::removeLeftovers(folder);
    const QDBusConnection bus =
        parser.isSet(busOption)
            ? QDBusConnection::connectToBus(parser.value(busOption), QStringLiteral("tavrixvpn-helper"))
            : QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qCritical().noquote() << QStringLiteral("tavrixvpn-helper: no bus:") << bus.lastError().message();
        return 1;
    }
    Tavrix::HelperService service(bus, folder);
    if (!service.publish(&error)) {
        qCritical().noquote() << QStringLiteral("tavrixvpn-helper:") << error;
        return 1;
    }
    stopTunnelsOnSignals(&service);
    // kill switch: a stored block holds from the helper's start until the window says otherwise.
    Tavrix::KillSwitchKeeper killSwitch(bus, parser.value(stateOption));
    killSwitch.restoreStored();
    service.setKillSwitchKeeper(&killSwitch);
    // Outline and split tunnelling: what a crashed helper left behind goes before serving.
    Tavrix::BypassGroup::removeLeftovers();
    qInfo("tavrixvpn-helper: ready");
    return app.exec();
}
