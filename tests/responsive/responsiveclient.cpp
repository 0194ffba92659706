// The client side of the responsiveness run, inside the lab's client namespace beside the real
// engines and firewall scripts. It drives the real window against the development service
// (sign-in, the kill switch on the settings page, connect and disconnect with every engine the
// lab serves, the tools page's test, log-out) while an event-loop probe on the window's thread
// notes every stall. One line per action:
//   STALL <action> <engine|all> <largest ms> <largest own ms> <99th percentile ms>
// "own" leaves out the time the thread only waited for a processor (a busy machine).
// Also STEP <text>, FAIL <text>, FIREWALL <after> <blocked|open>.
// Options: --engines a,b,c (default all), --service-arg ARG (repeatable).

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "clientapp.h"
#include "common/config.h"
#include "common/latencyprobe.h"
#include "common/serviceurl.h"
#include "common/user.h"
#include "devservice.h"
#include "testmain.h"
#include "ui/dbox.h"
#include "ui/mainwindow.h"
#include "ui/serverpage.h"
#include "ui/servers/connectpage.h"
#include "ui/servers/toolspage.h"
#include "ui/settingitems.h"
#include "vpn/engineprocess.h"
#include "vpn/openconnectconnection.h"

using namespace Tavrix;

namespace {

// Time after an action's visible end during which its follow-ups (status requests, the
// traffic indicator's first poll, queued scripts) still count towards it.
constexpr int settleMs = 700;
// Long enough to take in one poll of the traffic indicator (every 1500 ms).
constexpr int connectedDwellMs = 1700;

void say(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

struct Engine
{
    const char *name;
    int type;
};

const Engine engines[] = {
    {"openconnect", OpenConnectConnection::OPENCONNECT},      {"openvpn", OpenConnectConnection::OPENVPN},
    {"shadowsocks", OpenConnectConnection::XRAY_SHADOWSOCKS}, {"v2ray", OpenConnectConnection::V2RAY},
    {"wireguard", OpenConnectConnection::WIREGUARD},
};
// Outline entries never reach the server list (the client drops their type), so no press in
// the window can start that engine.

// Dialogs are answered with their submit button ("Yes" to the log-out question, "Ok" to a
// failed connect); their titles are reported.
void answerDialogs(QObject *context)
{
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, context, [] {
        QList<DBox *> boxes;
        if (auto *modal = qobject_cast<DBox *>(QApplication::activeModalWidget()))
            boxes << modal;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<DBox *>(widget); box && box->isVisible() && !boxes.contains(box))
                boxes << box;
        }
        for (DBox *box : boxes) {
            say(QStringLiteral("DIALOG ") + box->findChild<QLabel *>(QStringLiteral("lblTitle"))->text());
            QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("btnSubmit")), Qt::LeftButton);
        }
    });
    timer->start(50);
}

class ResponsiveRun
{
public:
    ResponsiveRun(const QStringList &engineNames, const QStringList &serviceArguments)
        : m_engineNames(engineNames)
        , m_serviceArguments(serviceArguments)
    {
        // Into the client's log, right after the lines of whatever held the thread.
        QObject::connect(&m_probe, &LatencyProbe::stalled,
                         [](double late, double own) { qDebug("PROBE stall %.0f ms (own %.0f ms)", late, own); });
    }

    bool run()
    {
        if (!m_service.start(m_serviceArguments))
            return fail(QStringLiteral("the development service did not start"));
        m_service.exportEnvironment();
        ServiceUrl::trustServiceCertificate();

        MainWindow window(QStringLiteral("Not"));
        window.resize(1113, 734);
        window.show();
        answerDialogs(&window);
        if (!QTest::qWaitFor([&] { return window.stack()->currentIndex() == MainWindow::LoginPageIndex; }, 30000))
            return fail(QStringLiteral("no sign-in page"));
        QTest::qWait(300);

        bool ok = measure(QStringLiteral("signin"), QStringLiteral("all"), [&] { return signIn(window); });
        m_hub = window.findChild<ServerPage *>(QStringLiteral("serverPage"));
        m_page = window.findChild<ConnectPage *>(QStringLiteral("connectPage"));
        if (!ok || !m_hub || !m_page)
            return fail(QStringLiteral("not signed in"));

        ok = measure(QStringLiteral("killswitch-on"), QStringLiteral("all"),
                     [&] { return pressKillSwitch(window, true); }) &&
             expectFirewall(QStringLiteral("killswitch-on"), true);

        for (const Engine &engine : engines) {
            if (!m_engineNames.isEmpty() && !m_engineNames.contains(QLatin1String(engine.name)))
                continue;
            ok = connectAndDisconnect(engine) && ok;
        }

        ok = measure(QStringLiteral("killswitch-off"), QStringLiteral("all"),
                     [&] { return pressKillSwitch(window, false); }) &&
             expectFirewall(QStringLiteral("killswitch-off"), false) && ok;
        ok = measure(QStringLiteral("tools"), QStringLiteral("all"), [&] { return toolsTest(window); }) && ok;
        ok = pressKillSwitch(window, true) && ok;
        ok = measure(QStringLiteral("logout"), QStringLiteral("all"), [&] { return logOut(window); }) &&
             expectFirewall(QStringLiteral("logout"), false) && ok;
        return ok;
    }

private:
    // Runs action with the probe on and reports its stalls; the probe goes on for settleMs
    // after the action's end.
    bool measure(const QString &action, const QString &engine, const std::function<bool()> &step)
    {
        qDebug().noquote() << "PROBE start" << action << engine;
        m_probe.start();
        const bool ok = step();
        QTest::qWait(settleMs);
        m_probe.stop();
        say(QStringLiteral("STALL %1 %2 %3 %4 %5")
                .arg(action, engine)
                .arg(m_probe.maxStallMs(), 0, 'f', 1)
                .arg(m_probe.maxOwnStallMs(), 0, 'f', 1)
                .arg(m_probe.percentileMs(0.99), 0, 'f', 1));
        if (!ok)
            fail(QStringLiteral("%1 %2 did not complete").arg(action, engine));
        return ok;
    }

    bool signIn(MainWindow &window)
    {
        auto *user = window.findChild<QLineEdit *>(QStringLiteral("editUsername"));
        auto *password = window.findChild<QLineEdit *>(QStringLiteral("editPassword"));
        if (!user || !password)
            return false;
        user->setText(QString::fromLatin1(m_user));
        password->setText(QStringLiteral("testpass"));
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnLogin")), Qt::LeftButton);
        return QTest::qWaitFor([&] { return window.stack()->currentIndex() == MainWindow::ServerPageIndex; }, 30000);
    }

    bool pressKillSwitch(MainWindow &window, bool wantOn)
    {
        m_hub->sideStack()->setCurrentIndex(ServerPage::SideMenu);
        QTest::qWait(50);
        QTest::mousePress(window.findChild<QWidget *>(QStringLiteral("settingButton")), Qt::LeftButton, {},
                          QPoint(10, 10));
        auto *item = window.findChild<SettingKillSwitch *>(QStringLiteral("killSwithch"));
        if (!item || !QTest::qWaitFor([&] { return item->isVisible(); }, 5000))
            return false;
        QTest::qWait(50);
        QTest::mousePress(item, Qt::LeftButton, {}, QPoint(10, 10));
        Config::instance()->load();
        return Config::instance()->killSwitch() == wantOn && item->switchShownOn() == wantOn;
    }

    bool connectAndDisconnect(const Engine &engine)
    {
        IPBundlePtr chosen;
        for (const IPBundlePtr &bundle : User::instance()->bundles()) {
            if (bundle->type() == engine.type && !bundle->isPlaceholderAddress() && !bundle->isLoyalUserServer()) {
                chosen = bundle;
                break;
            }
        }
        if (!chosen)
            return fail(QStringLiteral("the account has no %1 server").arg(engine.name));
        auto config = Config::instance();
        config->setActiveServer(chosen->ip_id());
        config->save();
        m_hub->sideStack()->setCurrentIndex(ServerPage::SideServerList);
        QTest::qWait(100);

        auto controller = OpenConnectConnection::instance();
        auto *button = m_page->findChild<QPushButton *>(QStringLiteral("btnConnect"));
        const QString name = QLatin1String(engine.name);
        bool ok = measure(QStringLiteral("connect"), name, [&] {
            QTest::mouseClick(button, Qt::LeftButton);
            const bool up = QTest::qWaitFor(
                [&] {
                    return controller->status() == OpenConnectConnection::CONNECTED &&
                           m_page->pageStatus() == OpenConnectConnection::CONNECTED;
                },
                45000);
            if (up)
                QTest::qWait(connectedDwellMs);
            return up;
        });
        ok = expectFirewall(QStringLiteral("connect-") + name, false) && ok;
        ok = measure(QStringLiteral("disconnect"), name,
                     [&] {
                         if (m_page->pageStatus() != OpenConnectConnection::IDLE)
                             QTest::mouseClick(button, Qt::LeftButton);
                         return QTest::qWaitFor(
                             [&] {
                                 return controller->status() == OpenConnectConnection::IDLE &&
                                        m_page->pageStatus() == OpenConnectConnection::IDLE;
                             },
                             20000);
                     }) &&
             ok;
        ok = expectFirewall(QStringLiteral("disconnect-") + name, true) && ok;
        say(QStringLiteral("STEP %1 %2").arg(name, ok ? QStringLiteral("ok") : QStringLiteral("failed")));
        return ok;
    }

    bool toolsTest(MainWindow &window)
    {
        m_hub->sideStack()->setCurrentIndex(ServerPage::SideTools);
        auto *tools = window.findChild<ToolsPage *>();
        if (!tools || !QTest::qWaitFor([&] { return tools->isVisible(); }, 5000))
            return false;
        QTest::qWait(50);
        QTest::mousePress(tools->findChild<QPushButton *>(QStringLiteral("btnTest")), Qt::LeftButton);
        // The counters sample twice, a second apart; the ping runs on.
        QTest::qWait(2500);
        return tools->findChild<QLabel *>(QStringLiteral("lblrisk"))->text() != QLatin1String("Not tested yet");
    }

    bool logOut(MainWindow &window)
    {
        m_hub->sideStack()->setCurrentIndex(ServerPage::SideMenu);
        QTest::qWait(100);
        auto *logout = window.findChild<QWidget *>(QStringLiteral("logoutButton"));
        if (!logout)
            return false;
        QTest::mousePress(logout, Qt::LeftButton, {}, QPoint(10, 10));
        return QTest::qWaitFor([&] { return window.stack()->currentIndex() != MainWindow::ServerPageIndex; }, 20000);
    }

    // Whether our firewall table is in place, asked outside any measurement: the scripts that
    // an action queued must have done their part within a few seconds.
    bool expectFirewall(const QString &after, bool blocked)
    {
        static const QRegularExpression ours(QStringLiteral("^table inet tavrixvpn$"),
                                             QRegularExpression::MultilineOption);
        bool present = !blocked;
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            const CommandResult tables =
                runCommand(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("tables")}, 5000);
            present = tables.output.contains(ours);
            if (present == blocked)
                break;
            QTest::qWait(100);
        }
        say(QStringLiteral("FIREWALL %1 %2").arg(after, present ? QStringLiteral("blocked") : QStringLiteral("open")));
        if (present != blocked)
            return fail(QStringLiteral("the firewall is %1 after %2").arg(present ? "blocked" : "open", after));
        return true;
    }

    bool fail(const QString &why)
    {
        say(QStringLiteral("FAIL ") + why);
        return false;
    }

    static constexpr const char *m_user = "anyconnect@tavrixvpn.test";
    QStringList m_engineNames;
    QStringList m_serviceArguments;
    TavrixTest::DevService m_service;
    LatencyProbe m_probe;
    ServerPage *m_hub = nullptr;
    ConnectPage *m_page = nullptr;
};

} // namespace

int main(int argc, char *argv[])
{
    TavrixTest::isolateXdg();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TavrixTest::setIdentity();
    QApplication app(argc, argv);
    QStringList engineNames;
    QStringList serviceArguments;
    const QStringList arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--engines"))
            engineNames = arguments.value(++i).split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (arguments.at(i) == QLatin1String("--service-arg"))
            serviceArguments << arguments.value(++i);
    }
    TavrixTest::prepareClientApplication(app);
    return ResponsiveRun(engineNames, serviceArguments).run() ? 0 : 1;
}
