// Resident memory (RSS) of the client in four states, as `RESULT rss.<state> <MB> MB` lines:
//   rss.signedin  the real program, one second after a login link signed it in
//   rss.idle      the same, after --idle-seconds more (default 10)
//   rss.connected the window connected through OpenConnect to an ocserv in a network namespace
//   rss.cycles20  the same window idle again after --cycles (default 20) connect/disconnect cycles
// The first two are medians of --runs (default 3) under Xvfb (offscreen when it is missing);
// the last two need root and are skipped without it. The machine is shared and noisy: the
// spread of the runs is printed beside each median.

#include <QApplication>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "app/windowplacement.h"
#include "clientapp.h"
#include "clientmemory.h"
#include "common/config.h"
#include "common/loginlink.h"
#include "common/serviceurl.h"
#include "common/user.h"
#include "devservice.h"
#include "netns.h"
#include "platform/heap.h"
#include "testmain.h"
#include "ui/mainwindow.h"
#include "ui/servers/connectpage.h"
#include "vpn/openconnectconnection.h"

using namespace Tavrix;
using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;

namespace {

struct Options
{
    int runs = 3;
    int idleSeconds = 10;
    int cycles = 20;
    bool child = false;
};

void say(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

void result(const QString &key, double mb)
{
    say(QStringLiteral("RESULT %1 %2 MB").arg(key).arg(mb, 0, 'f', 1));
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

QString spread(const QVector<double> &values)
{
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return QStringLiteral("%1-%2 MB over %3 runs").arg(*low, 0, 'f', 1).arg(*high, 0, 'f', 1).arg(values.size());
}

// --- the connected rows, run inside the client namespace ------------------------------------

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    return QTest::qWaitFor(done, timeoutMs);
}

int fail(const QString &text)
{
    say(QStringLiteral("FAIL ") + text);
    return 1;
}

// The window as start-up builds it, signed in by a login link, connected and disconnected
// through the real controller; prints its own RSS (the same libraries and code as the program).
int runChild(const Options &options)
{
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    returnLargeBlocksToSystem();
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    int argc = 1;
    char name[] = "bench_memory";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TavrixTest::prepareClientApplication(app);

    const QString user = QString::fromLatin1(OcservServer::demoUser);
    TavrixTest::DevService service;
    if (!service.start({QStringLiteral("--openconnect-server"),
                        QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(OcservServer::port),
                        QStringLiteral("--openconnect-user"), user, QStringLiteral("--openconnect-password"),
                        QStringLiteral("testpass")}))
        return fail(QStringLiteral("the development service did not start"));
    service.exportEnvironment();
    ServiceUrl::trustServiceCertificate();
    cacheLoginLinkCredentials(
        parseLoginLink(QStringLiteral("tavrixvpn://login?authenticate=%1&value=testpass").arg(user)));

    MainWindow window(QStringLiteral("Yes"));
    const WindowPlacement place = computeWindowPlacement(QRect(0, 0, 1280, 1024));
    window.setFixedSize(place.width, place.height);
    window.move(place.x, place.y);
    window.show();
    if (!waitFor([&] { return window.stack()->currentIndex() == 3; }, 40000))
        return fail(QStringLiteral("not signed in"));
    auto *page = window.findChild<ConnectPage *>(QStringLiteral("connectPage"));
    auto *button = page ? page->findChild<QPushButton *>(QStringLiteral("btnConnect")) : nullptr;
    if (!button)
        return fail(QStringLiteral("no connect button"));
    QTest::qWait(3000);
    say(QStringLiteral("in-process window, signed in and idle: %1 MB")
            .arg(TavrixTest::residentMb(QCoreApplication::applicationPid()), 0, 'f', 1));

    IPBundlePtr chosen;
    for (const IPBundlePtr &bundle : User::instance()->bundles()) {
        if (bundle->type() == 2 && !bundle->isPlaceholderAddress()) {
            chosen = bundle;
            break;
        }
    }
    if (!chosen)
        return fail(QStringLiteral("the account has no AnyConnect server"));
    auto config = Config::instance();
    config->setActiveServer(chosen->ip_id());
    config->save();

    auto controller = OpenConnectConnection::instance();
    const auto cycle = [&](bool stayConnected) {
        QTest::mouseClick(button, Qt::LeftButton);
        if (!waitFor(
                [&] { return controller->status() == OpenConnectConnection::CONNECTED && page->pageStatus() == 2; },
                45000))
            return false;
        if (stayConnected)
            return true;
        QTest::mouseClick(button, Qt::LeftButton);
        return waitFor([&] { return controller->status() == OpenConnectConnection::IDLE && page->pageStatus() == 0; },
                       20000);
    };
    if (!cycle(true))
        return fail(QStringLiteral("no tunnel, status %1").arg(int(controller->status())));
    QTest::qWait(3000); // the counters, the public address and the indicator settle
    result(QStringLiteral("rss.connected"), TavrixTest::residentMb(QCoreApplication::applicationPid()));
    QTest::mouseClick(button, Qt::LeftButton);
    if (!waitFor([&] { return controller->status() == OpenConnectConnection::IDLE; }, 20000))
        return fail(QStringLiteral("the tunnel did not go down"));

    for (int i = 1; i < options.cycles; ++i) {
        if (!cycle(false))
            return fail(QStringLiteral("cycle %1 failed, status %2").arg(i + 1).arg(int(controller->status())));
    }
    QTest::qWait(3000);
    result(QStringLiteral("rss.cycles%1").arg(options.cycles),
           TavrixTest::residentMb(QCoreApplication::applicationPid()));
    return 0;
}

// --- the real program ---------------------------------------------------------------------

int runParent(const Options &options, const QString &self)
{
    TavrixTest::isolateXdg();
    TavrixTest::DevService service;
    if (!service.start()) {
        say(QStringLiteral("FAIL the development service did not start"));
        return 1;
    }
    const bool withX = TavrixTest::XServer::available();
    if (!withX)
        say(QStringLiteral("Xvfb is missing: the client runs offscreen (about 5 MB less than on a display)"));
    QVector<double> signedIn;
    QVector<double> idle;
    for (int run = 0; run < options.runs; ++run) {
        TavrixTest::XServer x;
        if (withX && !x.start()) {
            say(QStringLiteral("FAIL Xvfb did not start"));
            return 1;
        }
        TavrixTest::SignedInClient client;
        if (!client.start(service, x.display())) {
            say(QStringLiteral("FAIL the client did not sign in: ") +
                QString::fromUtf8(client.log().right(1500)).simplified());
            return 1;
        }
        client.idle(1000);
        signedIn << client.residentMb();
        client.idle(options.idleSeconds * 1000);
        idle << client.residentMb();
        say(QStringLiteral("run %1: signed in %2 MB, idle %3 MB")
                .arg(run + 1)
                .arg(signedIn.last(), 0, 'f', 1)
                .arg(idle.last(), 0, 'f', 1));
    }
    say(QStringLiteral("signed in: median %1 MB (%2)").arg(median(signedIn), 0, 'f', 1).arg(spread(signedIn)));
    say(QStringLiteral("idle:      median %1 MB (%2)").arg(median(idle), 0, 'f', 1).arg(spread(idle)));
    result(QStringLiteral("rss.signedin"), median(signedIn));
    result(QStringLiteral("rss.idle"), median(idle));

    const QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("ocserv"), QStringLiteral("ocpasswd"), QStringLiteral("certtool")});
    if (!reason.isEmpty()) {
        say(QStringLiteral("connected rows skipped: %1").arg(reason));
        return 0;
    }
    NetnsLab lab;
    OcservServer server(lab);
    QString error;
    if (!lab.up(&error) || !server.makeCredentials(&error) || !server.start(OcservServer::NoGroups, &error)) {
        say(QStringLiteral("connected rows skipped: the lab did not start: %1").arg(error.simplified()));
        return 0;
    }
    // The window in the client namespace still reaches this X server through its socket file.
    TavrixTest::XServer x;
    if (withX && x.start())
        qputenv("DISPLAY", x.display().toLocal8Bit());
    else
        qunsetenv("DISPLAY");
    QByteArray output;
    const int code = lab.exec(
        lab.clientNs(), {self, QStringLiteral("--child"), QStringLiteral("--cycles"), QString::number(options.cycles)},
        &output, 60000 + options.cycles * 30000);
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("RESULT ") || line.startsWith("FAIL ") || line.startsWith("in-process"))
            say(QString::fromUtf8(line));
    }
    if (code != 0) {
        say(QStringLiteral("FAIL the connected run ended with %1").arg(code));
        lab.keepFiles();
        fputs(output.right(4000).constData(), stderr);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--runs" && hasValue)
            options.runs = qMax(1, atoi(argv[++i]));
        else if (a == "--idle-seconds" && hasValue)
            options.idleSeconds = qMax(0, atoi(argv[++i]));
        else if (a == "--cycles" && hasValue)
            options.cycles = qMax(1, atoi(argv[++i]));
        else if (a == "--child")
            options.child = true;
        else {
            fprintf(a == "--help" ? stdout : stderr,
                    "Usage: bench_memory [--runs N] [--idle-seconds S] [--cycles N]\n"
                    "Prints RESULT rss.signedin, rss.idle (the client under Xvfb, medians of N runs) and, as\n"
                    "root, rss.connected and rss.cyclesN (an AnyConnect server in a network namespace).\n");
            return a == "--help" ? 0 : 2;
        }
    }
    if (options.child)
        return runChild(options);
    QCoreApplication app(argc, argv);
    return runParent(options, QCoreApplication::applicationFilePath());
}
