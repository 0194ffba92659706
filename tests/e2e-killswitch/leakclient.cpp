// The client side of the kill switch's leak test, run inside the client namespace beside the
// real firewall scripts. It drives the real window: the development service on this
// namespace's loopback, sign-in, the settings page's kill switch, the connect button, the
// menu's log-out. At each stage it sends the whole probe set (TCP, UDP, DNS and ICMP over
// IPv4 and IPv6) to the listener and reports, one line each:
//   PHASE <name>
//   PROBE <phase> <kind> <v4|v6> <id> <ok|fail> <detail>
//   TABLE <phase> <present|absent>       our firewall table
//   STATUSFILE <phase> <contents>
//   STEP <name> / FAIL <text> / DIALOG <title>
// Options: --v4 ADDR --v6 ADDR --port P, --service-arg ARG (repeatable).
//
// With --flow helper or --flow restart it runs as an ordinary user against the privileged
// helper, with the server of --engine (wireguard, openvpn, openconnect) and the service given by
// --service-url (not on loopback),
// and waits at each gate (READY <name>) until the file <name> appears in --gate DIR: the test
// counts the packets of each stage on the outer link meanwhile, and kills or restarts things.
//   helper:  sign in, switch on, [blocked-idle], connect, [tunnel], [server-dead] (the test
//            stopped the server; 20 s more), [reconnecting] (when the client shows it), disconnect,
//            [blocked-after-disconnect], [server-back], connect, [killme] (the test kills this window while connected)
//   restart: (the switch stored on, the helper restarted as at boot) sign in,
//            [blocked-restart], switch off, [clear-switch-off]

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <sys/socket.h>

#include "clientapp.h"
#include "common/config.h"
#include "common/serviceurl.h"
#include "common/user.h"
#include "devservice.h"
#include "probes.h"
#include "protection/killswitch.h"
#include "testmain.h"
#include "ui/dbox.h"
#include "ui/mainwindow.h"
#include "ui/serverpage.h"
#include "ui/servers/connectpage.h"
#include "ui/settingitems.h"
#include "vpn/engineprocess.h"
#include "vpn/openconnectconnection.h"

using namespace Tavrix;
using TavrixTest::ProbeKind;

namespace {

void say(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    return QTest::qWaitFor(done, timeoutMs);
}

struct Options
{
    QString v4;
    QString v6;
    quint16 port = 0;
    QStringList serviceArguments;
    QString flow;
    QString engine;
    QString gate;
    QString serviceUrl;
    QString serviceCa;
};

Options parse(const QStringList &arguments)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--v4"))
            options.v4 = arguments.value(++i);
        else if (a == QLatin1String("--v6"))
            options.v6 = arguments.value(++i);
        else if (a == QLatin1String("--port"))
            options.port = quint16(arguments.value(++i).toUInt());
        else if (a == QLatin1String("--service-arg"))
            options.serviceArguments << arguments.value(++i);
        else if (a == QLatin1String("--flow"))
            options.flow = arguments.value(++i);
        else if (a == QLatin1String("--engine"))
            options.engine = arguments.value(++i);
        else if (a == QLatin1String("--gate"))
            options.gate = arguments.value(++i);
        else if (a == QLatin1String("--service-url"))
            options.serviceUrl = arguments.value(++i);
        else if (a == QLatin1String("--service-ca"))
            options.serviceCa = arguments.value(++i);
    }
    return options;
}

// Every dialog is answered with its submit button ("Yes" to the log-out question); the
// titles are reported.
void answerDialogs(QObject *context)
{
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, context, [] {
        auto *box = qobject_cast<DBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        say(QStringLiteral("DIALOG ") + box->findChild<QLabel *>(QStringLiteral("lblTitle"))->text());
        QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("btnSubmit")), Qt::LeftButton);
    });
    timer->start(50);
}

class LeakRun
{
public:
    explicit LeakRun(const Options &options)
        : m_options(options)
    {
    }

    bool run()
    {
        if (!m_options.flow.isEmpty())
            return runWithHelper();
        if (!m_service.start(m_options.serviceArguments))
            return fail(QStringLiteral("the development service did not start"));
        m_service.exportEnvironment();
        ServiceUrl::trustServiceCertificate();

        MainWindow window(QStringLiteral("Not"));
        window.resize(1113, 734);
        window.show();
        answerDialogs(&window);
        if (!signIn(window))
            return false;
        auto *hub = window.findChild<ServerPage *>(QStringLiteral("serverPage"));
        auto *page = window.findChild<ConnectPage *>(QStringLiteral("connectPage"));
        if (!hub || !page)
            return fail(QStringLiteral("no hub"));

        probePhase(QStringLiteral("clear-start"));
        // A flow opened in the clear before the switch goes on must not go on afterwards.
        QTcpSocket earlier;
        earlier.connectToHost(m_options.v4, m_options.port);
        const bool earlierOpen = earlier.waitForConnected(3000);
        say(QStringLiteral("FLOW clear-open %1").arg(earlierOpen ? QStringLiteral("ok") : QStringLiteral("fail")));

        if (!pressKillSwitch(window, *hub, true))
            return false;
        if (earlierOpen)
            useFlowAgain(earlier, QStringLiteral("clear-after-block"), 9998);
        probePhase(QStringLiteral("blocked-idle"));

        if (!chooseServer())
            return false;
        auto controller = OpenConnectConnection::instance();
        auto *button = page->findChild<QPushButton *>(QStringLiteral("btnConnect"));
        QTest::mouseClick(button, Qt::LeftButton);
        if (!waitFor(
                [&] { return controller->status() == OpenConnectConnection::CONNECTED && page->pageStatus() == 2; },
                45000))
            return fail(QStringLiteral("no tunnel, status %1").arg(int(controller->status())));
        say(QStringLiteral("STEP CONNECTED"));
        probePhase(QStringLiteral("tunnel"));
        // A flow opened through the tunnel, used again once the tunnel is gone.
        QTcpSocket flow;
        flow.connectToHost(m_options.v4, m_options.port);
        const bool flowOpen = flow.waitForConnected(3000);
        say(QStringLiteral("FLOW open %1").arg(flowOpen ? QStringLiteral("ok") : QStringLiteral("fail")));

        QTest::mouseClick(button, Qt::LeftButton);
        if (!waitFor([&] { return controller->status() == OpenConnectConnection::IDLE && page->pageStatus() == 0; },
                     20000))
            return fail(QStringLiteral("the tunnel did not go down"));
        say(QStringLiteral("STEP IDLE"));
        waitForScripts();
        if (flowOpen)
            useFlowAgain(flow, QStringLiteral("tunnel-after-drop"), 9999);
        probePhase(QStringLiteral("blocked-after-disconnect"));

        if (!pressKillSwitch(window, *hub, false))
            return false;
        probePhase(QStringLiteral("clear-switch-off"));

        if (!pressKillSwitch(window, *hub, true))
            return false;
        probePhase(QStringLiteral("blocked-again"));

        // Log-out through the menu; the question is answered "Yes".
        hub->sideStack()->setCurrentIndex(ServerPage::SideMenu);
        QTest::qWait(100);
        auto *logout = window.findChild<QWidget *>(QStringLiteral("logoutButton"));
        if (!logout)
            return fail(QStringLiteral("no log-out entry"));
        QTest::mousePress(logout, Qt::LeftButton, {}, QPoint(10, 10));
        if (!waitFor([&] { return window.stack()->currentIndex() != 3; }, 20000))
            return fail(QStringLiteral("still signed in"));
        say(QStringLiteral("STEP SIGNED_OUT"));
        waitForScripts();
        probePhase(QStringLiteral("clear-after-logout"));
        return true;
    }

private:
    // The window as an ordinary user: the privileged helper keeps the firewall.
    bool runWithHelper()
    {
        qputenv("TAVRIXVPN_SERVICE_URL", m_options.serviceUrl.toUtf8());
        qputenv("TAVRIXVPN_SERVICE_CA", m_options.serviceCa.toLocal8Bit());
        ServiceUrl::trustServiceCertificate();
        if (!KillSwitch::usesHelper())
            return fail(QStringLiteral("the helper is not available"));
        MainWindow window(QStringLiteral("Not"));
        window.resize(1113, 734);
        window.show();
        answerDialogs(&window);
        // After a restart the stored account may sign in by itself: through the block either way.
        if (!waitFor([&] { return window.stack()->currentIndex() >= 2; }, 30000))
            return fail(QStringLiteral("no start page"));
        if (window.stack()->currentIndex() == 2 && !signIn(window))
            return false;
        if (window.stack()->currentIndex() == 3)
            say(QStringLiteral("STEP SIGNED_IN"));
        auto *hub = window.findChild<ServerPage *>(QStringLiteral("serverPage"));
        auto *page = window.findChild<ConnectPage *>(QStringLiteral("connectPage"));
        if (!hub || !page)
            return fail(QStringLiteral("no hub"));
        auto controller = OpenConnectConnection::instance();
        auto *button = page->findChild<QPushButton *>(QStringLiteral("btnConnect"));
        const auto connectNow = [&] {
            QTest::mouseClick(button, Qt::LeftButton);
            if (!waitFor(
                    [&] { return controller->status() == OpenConnectConnection::CONNECTED && page->pageStatus() == 2; },
                    45000))
                return fail(QStringLiteral("no tunnel, status %1").arg(int(controller->status())));
            say(QStringLiteral("STEP CONNECTED"));
            waitForScripts();
            return true;
        };

        if (m_options.flow == QLatin1String("restart")) {
            Config::instance()->load();
            if (!Config::instance()->killSwitch())
                return fail(QStringLiteral("the switch was not stored on"));
            gatedPhase(QStringLiteral("blocked-restart"));
            if (!pressKillSwitch(window, *hub, false))
                return false;
            gatedPhase(QStringLiteral("clear-switch-off"));
            return true;
        }

        if (!pressKillSwitch(window, *hub, true))
            return false;
        gatedPhase(QStringLiteral("blocked-idle"));
        const int type = m_options.engine == QLatin1String("openvpn")       ? OpenConnectConnection::OPENVPN
                         : m_options.engine == QLatin1String("openconnect") ? OpenConnectConnection::OPENCONNECT
                                                                            : OpenConnectConnection::WIREGUARD;
        if (!chooseServer(type) || !connectNow())
            return false;
        gatedPhase(QStringLiteral("tunnel"));
        gate(QStringLiteral("server-dead"));
        const QDeadlineTimer twentySeconds(20000); // from the server's death, the probes' time included
        probePhase(QStringLiteral("server-dead"));
        QTest::qWait(int(twentySeconds.remainingTime()));
        gate(QStringLiteral("server-dead-counted"));
        if (waitFor([&] { return controller->isReconnecting(); }, 15000)) {
            gatedPhase(QStringLiteral("reconnecting"));
            say(QStringLiteral("STEP %1").arg(controller->isReconnecting() ? "RECONNECTING" : "NOT_RECONNECTING"));
        }
        QTest::mouseClick(button, Qt::LeftButton);
        if (!waitFor([&] { return controller->status() == OpenConnectConnection::IDLE && page->pageStatus() == 0; },
                     20000))
            return fail(QStringLiteral("the tunnel did not go down"));
        say(QStringLiteral("STEP IDLE"));
        waitForScripts();
        gatedPhase(QStringLiteral("blocked-after-disconnect"));
        gate(QStringLiteral("server-back"));
        if (!connectNow())
            return false;
        // The test kills this window here; it never comes back from the gate.
        gate(QStringLiteral("killme"));
        return fail(QStringLiteral("not killed"));
    }

    // Waits until the test opens the gate `name`.
    void gate(const QString &name)
    {
        say(QStringLiteral("READY ") + name);
        waitFor([&] { return QFile::exists(m_options.gate + QLatin1Char('/') + name); }, 60000);
    }

    // A stage the test counts: it resets its counters before, reads them after.
    void gatedPhase(const QString &phase)
    {
        gate(phase);
        probePhase(phase);
        gate(phase + QStringLiteral("-counted"));
    }

    bool signIn(MainWindow &window, const QString &name = QStringLiteral("testuser"),
                const QString &secret = QStringLiteral("testpass"))
    {
        if (!waitFor([&] { return window.stack()->currentIndex() == 2; }, 30000))
            return fail(QStringLiteral("no sign-in page"));
        auto *user = window.findChild<QLineEdit *>(QStringLiteral("editUsername"));
        auto *password = window.findChild<QLineEdit *>(QStringLiteral("editPassword"));
        if (!user || !password)
            return fail(QStringLiteral("no sign-in fields"));
        user->setText(name);
        password->setText(secret);
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnLogin")), Qt::LeftButton);
        if (!waitFor([&] { return window.stack()->currentIndex() == 3; }, 30000))
            return fail(QStringLiteral("not signed in"));
        say(QStringLiteral("STEP SIGNED_IN"));
        return true;
    }

    bool chooseServer(int type = OpenConnectConnection::OPENCONNECT)
    {
        for (const IPBundlePtr &bundle : User::instance()->bundles()) {
            if (bundle->type() == type && !bundle->isPlaceholderAddress() &&
                (type == OpenConnectConnection::OPENCONNECT || !bundle->isLoyalUserServer())) {
                auto config = Config::instance();
                config->setActiveServer(bundle->ip_id());
                config->save();
                return true;
            }
        }
        return fail(QStringLiteral("the account has no server of type %1").arg(type));
    }

    // Opens the settings page from the menu and presses the kill switch.
    bool pressKillSwitch(MainWindow &window, ServerPage &hub, bool wantOn)
    {
        hub.sideStack()->setCurrentIndex(ServerPage::SideMenu);
        QTest::qWait(50);
        auto *settings = window.findChild<QWidget *>(QStringLiteral("settingButton"));
        QTest::mousePress(settings, Qt::LeftButton, {}, QPoint(10, 10));
        auto *item = window.findChild<SettingKillSwitch *>(QStringLiteral("killSwithch"));
        if (!item || !waitFor([&] { return item->isVisible(); }, 5000))
            return fail(QStringLiteral("no kill switch on the settings page"));
        QTest::qWait(50);
        QTest::mousePress(item, Qt::LeftButton, {}, QPoint(10, 10));
        Config::instance()->load();
        if (Config::instance()->killSwitch() != wantOn || item->switchShownOn() != wantOn)
            return fail(QStringLiteral("the kill switch did not turn %1").arg(wantOn ? "on" : "off"));
        say(QStringLiteral("STEP KILLSWITCH_%1").arg(wantOn ? "ON" : "OFF"));
        waitForScripts();
        return true;
    }

    // The firewall scripts run off the window's thread; a phase starts once they have ended.
    static void waitForScripts()
    {
        waitFor([] { return !KillSwitch::scriptsPending(); }, 35000);
    }

    // Sends a probe on a flow opened earlier: its bytes must never arrive (the listener would
    // note the id) and no answer may come back.
    void useFlowAgain(QTcpSocket &flow, const QString &name, int id)
    {
        flow.write("tvxprobe" + QByteArray::number(id) + ";\n");
        flow.waitForBytesWritten(1000);
        QTest::qWait(1500);
        say(QStringLiteral("FLOW %1 %2")
                .arg(name, flow.bytesAvailable() > 0 ? QStringLiteral("answered") : QStringLiteral("silent")));
        // Drop what the kernel still holds for it: otherwise it retransmits the probe once the
        // firewall opens for the next connect, and the listener would count that.
        const linger drop{1, 0};
        ::setsockopt(int(flow.socketDescriptor()), SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
        flow.abort();
    }

    void probePhase(const QString &phase)
    {
        say(QStringLiteral("PHASE ") + phase);
        const QList<ProbeKind> kinds = {ProbeKind::Tcp, ProbeKind::Udp, ProbeKind::Dns, ProbeKind::Icmp};
        for (const QString &family : {QStringLiteral("v4"), QStringLiteral("v6")}) {
            for (ProbeKind kind : kinds) {
                const int id = ++m_nextId;
                const auto result = TavrixTest::sendProbe(
                    kind, family == QLatin1String("v4") ? m_options.v4 : m_options.v6, m_options.port, id);
                say(QStringLiteral("PROBE %1 %2 %3 %4 %5 %6")
                        .arg(phase, TavrixTest::probeKindName(kind), family)
                        .arg(id)
                        .arg(result.answered ? QStringLiteral("ok") : QStringLiteral("fail"), result.detail));
            }
        }
        const CommandResult tables =
            runCommand(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("tables")}, 10000);
        static const QRegularExpression ours(QStringLiteral("^table inet tavrixvpn$"),
                                             QRegularExpression::MultilineOption);
        say(QStringLiteral("TABLE %1 %2")
                .arg(phase, tables.output.contains(ours) ? QStringLiteral("present") : QStringLiteral("absent")));
        QFile status(KillSwitch::statusFilePath());
        say(QStringLiteral("STATUSFILE %1 %2")
                .arg(phase,
                     status.open(QIODevice::ReadOnly) ? QString::fromUtf8(status.readAll()) : QStringLiteral("-")));
    }

    bool fail(const QString &why)
    {
        say(QStringLiteral("FAIL ") + why);
        return false;
    }

    Options m_options;
    TavrixTest::DevService m_service;
    int m_nextId = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    // A restart of the helper flow keeps its settings (the caller gives the folders).
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
        TavrixTest::isolateXdg();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TavrixTest::setIdentity();
    QApplication app(argc, argv);
    const Options options = parse(app.arguments());
    TavrixTest::prepareClientApplication(app);
    return LeakRun(options).run() ? 0 : 1;
}
