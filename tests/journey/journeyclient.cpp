// A user's first session, driven through the real window: the development service is
// started, the window shows the sign-in page, the account signs in, the hub shows the connect
// page, and (with --connect) the connect button brings a tunnel up, traffic crosses it, and a
// second press takes it down again. One line per step on standard output:
//   STEP <name>          a step reached (SIGNED_OUT, SIGNED_IN, CONNECTED, PROBE_OK, IDLE)
//   SHOT <file>          a screenshot saved
//   FAIL <text>          the journey stopped here (exit code 1)
// Options: --user U --password P, --connect, --type N (server type, 2 by default), --probe ADDR PORT, --screenshots
// DIR,
// --screen WxH (the window gets the default size start-up gives it on such a screen),
// --service-arg ARG (repeatable) passed to the development service, and --expect-refusal TEXT:
// the connect press must end in a dialog containing TEXT with nothing started (STEP REFUSED).

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <unistd.h>

#include "accountshots.h"
#include "app/windowplacement.h"
#include "clientapp.h"
#include "common/config.h"
#include "common/serviceurl.h"
#include "common/user.h"
#include "devservice.h"
#include "netns.h"
#include "platform/splitter.h"
#include "protection/splittunnelcontrol.h"
#include "testmain.h"
#include "ui/account/accoutbottombutton.h"
#include "ui/account/homeimage.h"
#include "ui/account/paymenthistory.h"
#include "ui/account/purchasedwidget.h"
#include "ui/dbox.h"
#include "ui/mainwindow.h"
#include "ui/serverpage.h"
#include "ui/servers/connectpage.h"
#include "ui/servers/toolspage.h"
#include "ui/splittunnelpage.h"
#include "ui/splittunnelwidget.h"
#include "vpn/openconnectconnection.h"

using namespace Tavrix;

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
    QString user = QStringLiteral("premium@tavrixvpn.test");
    QString password = QStringLiteral("premiumpass1");
    bool connect = false;
    QString probeAddress;
    quint16 probePort = 0;
    QString screenshots;
    QSize screen{1920, 1080};
    QStringList serviceArguments;
    QString expectRefusal;
    int type = 2; // server type to connect to (--type N)
};

// Title of the last dialog the watcher closed.
QString &lastDialog()
{
    static QString text;
    return text;
}

const char *const usage = "Usage: tavrix-journey [options]\n"
                          "A user's first session through the real window, against a development service it starts.\n"
                          "  --user U --password P   the account (default premium@tavrixvpn.test / premiumpass1)\n"
                          "  --connect               also connect and disconnect with the first AnyConnect server\n"
                          "  --type N                with --connect: the server type to pick (default 2, AnyConnect)\n"
                          "  --probe ADDR PORT       with --connect: a TCP echo through the tunnel\n"
                          "  --screenshots DIR       save the pages (and a dialog, on a real display) as PNG files\n"
                          "  --screen WxH            the screen the window is sized for (default 1920x1080)\n"
                          "  --service-arg ARG       passed to the development service (repeatable)\n"
                          "  --expect-refusal TEXT   the connect press must end in a dialog containing TEXT\n"
                          "  --help                  this text\n";

// Returns -1 to go on, or the exit code (0 after --help, 2 for a bad command line).
int parse(const QStringList &arguments, Options *options)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        // Options with values must have them.
        const auto value = [&](int count) { return i + count < arguments.size(); };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            fputs(usage, stdout);
            return 0;
        } else if (a == QLatin1String("--connect")) {
            options->connect = true;
        } else if ((a == QLatin1String("--user") || a == QLatin1String("--password") ||
                    a == QLatin1String("--screenshots") || a == QLatin1String("--service-arg") ||
                    a == QLatin1String("--screen") || a == QLatin1String("--expect-refusal")) &&
                   value(1)) {
            const QString v = arguments.at(++i);
            if (a == QLatin1String("--user"))
                options->user = v;
            else if (a == QLatin1String("--password"))
                options->password = v;
            else if (a == QLatin1String("--screenshots"))
                options->screenshots = v;
            else if (a == QLatin1String("--service-arg"))
                options->serviceArguments << v;
            else if (a == QLatin1String("--expect-refusal"))
                options->expectRefusal = v;
            else {
                const QStringList parts = v.split(QLatin1Char('x'));
                options->screen = parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
                if (options->screen.width() < 320 || options->screen.height() < 240) {
                    fprintf(stderr, "tavrix-journey: --screen wants WxH, e.g. 1280x1024\n%s", usage);
                    return 2;
                }
            }
        } else if (a == QLatin1String("--type") && value(1)) {
            options->type = arguments.at(++i).toInt();
        } else if (a == QLatin1String("--probe") && value(2)) {
            options->probeAddress = arguments.at(++i);
            options->probePort = quint16(arguments.at(++i).toUInt());
        } else {
            fprintf(stderr, "tavrix-journey: unknown or incomplete option %s\n%s", qPrintable(a), usage);
            return 2;
        }
    }
    return -1;
}

// Any dialog that pops up is an answer the journey did not expect: note it and close it.
void watchDialogs(QObject *context)
{
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, context, [] {
        auto *box = qobject_cast<DBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        lastDialog() = box->findChild<QLabel *>(QStringLiteral("lblTitle"))->text();
        say(QStringLiteral("DIALOG ") + lastDialog());
        QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("btnSubmit")), Qt::LeftButton);
    });
    timer->start(100);
}

bool probe(const QString &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    if (!socket.waitForConnected(3000))
        return false;
    const QByteArray payload = "tavrix-journey";
    socket.write(payload);
    QByteArray echo;
    while (echo.size() < payload.size() && socket.waitForReadyRead(3000))
        echo += socket.readAll();
    return echo == payload;
}

class Journey
{
public:
    explicit Journey(const Options &options)
        : m_options(options)
    {
    }

    int run()
    {
        if (!m_service.start(m_options.serviceArguments))
            return fail(QStringLiteral("the development service did not start"));
        m_service.exportEnvironment();
        ServiceUrl::trustServiceCertificate();

        MainWindow window(QStringLiteral("Not"));
        const WindowPlacement place = computeWindowPlacement(QRect(QPoint(0, 0), m_options.screen));
        window.setFixedSize(place.width, place.height);
        window.move(place.x, place.y);
        m_suffix = QStringLiteral("-%1x%2").arg(place.width).arg(place.height);
        window.show();
        watchDialogs(&window);
        if (!waitFor([&] { return window.stack()->currentIndex() == 2; }, 30000))
            return fail(QStringLiteral("no sign-in page"));
        say(QStringLiteral("STEP SIGNED_OUT"));
        QTest::qWait(300);
        shot(window, QStringLiteral("sign-in"));
        dialogShot(window);

        auto *user = window.findChild<QLineEdit *>(QStringLiteral("editUsername"));
        auto *password = window.findChild<QLineEdit *>(QStringLiteral("editPassword"));
        if (!user || !password)
            return fail(QStringLiteral("no sign-in fields"));
        user->setText(m_options.user);
        password->setText(m_options.password);
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnLogin")), Qt::LeftButton);
        if (!waitFor([&] { return window.stack()->currentIndex() == 3; }, 30000))
            return fail(QStringLiteral("not signed in"));
        say(QStringLiteral("STEP SIGNED_IN"));

        auto *page = window.findChild<ConnectPage *>(QStringLiteral("connectPage"));
        auto *address = page ? page->findChild<QLabel *>(QStringLiteral("lblSelectionIp")) : nullptr;
        if (!page || !address || !waitFor([&] { return page->isVisible(); }, 5000))
            return fail(QStringLiteral("no connect page"));
        waitFor([&] { return address->text().contains(QLatin1Char('.')) && address->text().at(0).isDigit(); }, 10000);
        QTest::qWait(300);
        shot(window, QStringLiteral("connect-page-idle"));
        settingsShot(window);

        const int code = m_options.connect ? connectAndDisconnect(window, *page) : 0;
        if (code == 0 && !m_options.screenshots.isEmpty()) {
            tourAccountPages(window, *page);
            shootAccountPages(window, [this](const QString &name, QWidget *widget) { shot(*widget, name); });
        }
        return code;
    }

private:
    // Pictures of the banner slider, the purchase, account, history and tools pages, then
    // back to the connect page as the user left it.
    void tourAccountPages(MainWindow &window, ConnectPage &page)
    {
        auto *slider = page.findChild<HomeImage *>();
        if (slider) {
            waitFor([&] { return slider->pendingDownloads() == 0 && slider->bannerCount() > 0; }, 10000);
            // The first picture arrives after the slider first looked; a dot shows it now.
            if (auto *dot = slider->findChild<QPushButton *>(QStringLiteral("bannerDot")))
                QTest::mouseClick(dot, Qt::LeftButton);
            QTest::qWait(300);
            shot(window, QStringLiteral("connect-page-banner"));
        }
        auto *hub = window.findChild<ServerPage *>();
        if (!hub)
            return;
        hub->mainStack()->setCurrentIndex(ServerPage::MainPurchase);
        auto *features = hub->findChild<AccoutBottomButton *>();
        waitFor([&] { return features && features->hasPicture(); }, 5000);
        QTest::qWait(300);
        shot(window, QStringLiteral("purchase-page"));
        if (auto *scroll = hub->findChild<QScrollArea *>(QStringLiteral("purchaseScroll"))) {
            scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
            QTest::qWait(200);
            shot(window, QStringLiteral("purchase-page-offers"));
        }
        hub->mainStack()->setCurrentIndex(ServerPage::MainConnect);

        hub->sideStack()->setCurrentIndex(ServerPage::SideMyAccount);
        QTest::qWait(300);
        shot(window, QStringLiteral("account-page"));

        auto *history = hub->findChild<PaymentHistory *>();
        hub->sideStack()->setCurrentIndex(ServerPage::SidePaymentHistory);
        waitFor(
            [&] { return history && !history->isLoading() && !history->findChildren<PurchasedWidget *>().isEmpty(); },
            10000);
        QTest::qWait(300);
        shot(window, QStringLiteral("history-page"));

        auto *tools = hub->findChild<ToolsPage *>();
        hub->sideStack()->setCurrentIndex(ServerPage::SideTools);
        QTest::qWait(100);
        if (tools) {
            QTest::mouseClick(tools->findChild<QPushButton *>(QStringLiteral("btnTest")), Qt::LeftButton);
            auto *ping = tools->findChild<QLabel *>(QStringLiteral("lblPing"));
            waitFor([&] { return !tools->isTesting() && ping->text().endsWith(QLatin1String(" ms")); }, 15000);
            QTest::qWait(300);
            shot(window, QStringLiteral("tools-page"));
        }
        hub->sideStack()->setCurrentIndex(ServerPage::SideServerList);
        QTest::qWait(200);
    }

    int connectAndDisconnect(MainWindow &window, ConnectPage &page)
    {
        // The service points every OpenConnect entry at our server: pick the first one.
        IPBundlePtr chosen;
        for (const IPBundlePtr &bundle : User::instance()->bundles()) {
            if (bundle->type() == m_options.type && !bundle->isPlaceholderAddress()) {
                chosen = bundle;
                break;
            }
        }
        if (!chosen)
            return fail(QStringLiteral("the account has no server of type %1").arg(m_options.type));
        auto config = Config::instance();
        config->setActiveServer(chosen->ip_id());
        config->save();

        auto controller = OpenConnectConnection::instance();
        auto *button = page.findChild<QPushButton *>(QStringLiteral("btnConnect"));
        QTest::mouseClick(button, Qt::LeftButton);
        if (!m_options.expectRefusal.isEmpty()) {
            if (!waitFor([&] { return lastDialog().contains(m_options.expectRefusal); }, 10000))
                return fail(QStringLiteral("no refusal, status %1").arg(int(controller->status())));
            QTest::qWait(500);
            if (controller->status() != OpenConnectConnection::IDLE)
                return fail(QStringLiteral("refused, but the controller left idle"));
            say(QStringLiteral("STEP REFUSED"));
            return 0;
        }
        if (!waitFor([&] { return controller->status() == OpenConnectConnection::CONNECTED && page.pageStatus() == 2; },
                     45000))
            return fail(QStringLiteral("no tunnel, status %1").arg(int(controller->status())));
        say(QStringLiteral("STEP CONNECTED"));

        if (!m_options.probeAddress.isEmpty()) {
            if (!probe(m_options.probeAddress, m_options.probePort))
                return fail(QStringLiteral("no traffic through the tunnel"));
            say(QStringLiteral("STEP PROBE_OK"));
        }
        // Let the round trip and the counters show before the picture.
        auto *ping = page.findChild<QLabel *>(QStringLiteral("lblPing"));
        waitFor([&] { return ping && ping->text().at(0).isDigit(); }, 5000);
        QTest::qWait(1600);
        shot(window, QStringLiteral("connect-page-connected"));
        reconnectingShots(window, page);

        QTest::mouseClick(button, Qt::LeftButton);
        if (!waitFor([&] { return controller->status() == OpenConnectConnection::IDLE && page.pageStatus() == 0; },
                     20000))
            return fail(QStringLiteral("the tunnel did not go down"));
        say(QStringLiteral("STEP IDLE"));
        return 0;
    }

    // The connect page and the tray while a lost tunnel is brought back: the client's outer link
    // goes down under the tunnel (we run in the lab's client namespace), the pictures are
    // taken, the link comes back. Only for the pictures; the user's disconnect follows as usual.
    void reconnectingShots(MainWindow &window, ConnectPage &page)
    {
        if (m_options.screenshots.isEmpty() || ::geteuid() != 0)
            return;
        QString link;
        for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
                if (entry.ip() == QHostAddress(QString::fromLatin1(TavrixTest::NetnsLab::clientAddress)))
                    link = interface.name();
            }
        }
        if (link.isEmpty())
            return;
        auto controller = OpenConnectConnection::instance();
        TavrixTest::runProgram(QStringLiteral("ip"), {"link", "set", "dev", link, "down"});
        if (waitFor([&] { return controller->isReconnecting() && page.pageStatus() == 1; }, 20000)) {
            QTest::qWait(700);
            shot(window, QStringLiteral("connect-page-reconnecting"));
            // The tray's picture as the tray would show it (a headless display has no tray).
            const QString file =
                QDir(m_options.screenshots).filePath(QStringLiteral("tray-reconnecting") + m_suffix + ".png");
            if (MainWindow::trayPicture(true).scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation).save(file))
                say(QStringLiteral("SHOT ") + file + QStringLiteral(" (tooltip: ") +
                    MainWindow::trayTip(OpenConnectConnection::CONNECTING, true) + QLatin1Char(')'));
        }
        TavrixTest::runProgram(QStringLiteral("ip"), {"link", "set", "dev", link, "up"});
        waitFor([&] { return !controller->isReconnecting(); }, 30000);
    }

    // The split-tunnel page with both lists filled: the running programs, one of them chosen.
    // The choice goes to an observer, so the pictures change nothing on the machine.
    void splitTunnelShots(MainWindow &window, ServerPage &hub)
    {
        SplitTunnelControl::setApplyObserver([](const QStringList &) {});
        // A desktop's usual applications, each a program of its own with a desktop entry (the
        // office suite starts its real program through a script beside it).
        QTemporaryDir installed;
        const QString entries =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/applications");
        QDir().mkpath(entries);
        QStringList programs;
        const QList<QStringList> applications{{"firefox-esr/firefox-esr", "Firefox ESR", ""},
                                              {"thunderbird/thunderbird", "Thunderbird", ""},
                                              {"zoom/zoom", "Zoom", ""},
                                              {"chromium/chromium", "Chromium", ""},
                                              {"libreoffice/program/soffice", "LibreOffice Writer", ".bin"}};
        for (const QStringList &application : applications) {
            const QString path = installed.path() + QLatin1Char('/') + application.at(0);
            QDir().mkpath(QFileInfo(path).path());
            for (const QString &file : {path, path + application.at(2)}) {
                QFile program(file);
                if (program.open(QIODevice::WriteOnly))
                    program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
            }
            QFile entry(entries + QLatin1Char('/') + QFileInfo(path).fileName() + QStringLiteral(".desktop"));
            if (entry.open(QIODevice::WriteOnly | QIODevice::Truncate))
                entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nIcon=%2\nExec=%3 %U\n")
                                .arg(application.at(1), QFileInfo(path).fileName(), path)
                                .toUtf8());
            programs << path + application.at(2);
        }
        SplitTunnelPage::setProgramSource([programs] { return Splitter::runningExecutables() + programs; });
        Config::setSplitTunnelApp(QStringLiteral("thunderbird"), true);
        Config::setSplitTunnelApp(QStringLiteral("zoom"), true);
        Config::setClickedProcesses({QStringLiteral("thunderbird"), QStringLiteral("zoom")});
        hub.mainStack()->setCurrentIndex(ServerPage::MainSplitTunnel);
        auto *page = hub.mainStack()->currentWidget();
        waitFor([&] { return !page->findChildren<SplitTunnelWidget *>().isEmpty(); }, 10000);
        QTest::qWait(300);
        shot(window, QStringLiteral("split-tunnel-allowed"));
        if (auto *tab = page->findChild<QPushButton *>(QStringLiteral("disalledAppButton")))
            QTest::mousePress(tab, Qt::LeftButton);
        QTest::qWait(300);
        shot(window, QStringLiteral("split-tunnel-disallowed"));
        hub.mainStack()->setCurrentIndex(ServerPage::MainConnect);
        SplitTunnelPage::setProgramSource(nullptr);
        SplitTunnelControl::setApplyObserver(nullptr);
        QTest::qWait(100);
    }

    // The settings page with both expanders open; then back to the server list.
    void settingsShot(MainWindow &window)
    {
        auto *hub = window.findChild<ServerPage *>(QStringLiteral("serverPage"));
        if (m_options.screenshots.isEmpty() || !hub)
            return;
        hub->sideStack()->setCurrentIndex(ServerPage::SideSettings);
        QTest::qWait(100);
        const QStringList expanders{QStringLiteral("protocolWidget"), QStringLiteral("generalButton")};
        for (const QString &name : expanders) {
            if (auto *expander = window.findChild<QWidget *>(name))
                QTest::mousePress(expander, Qt::LeftButton, {}, QPoint(10, 10));
        }
        QTest::qWait(300);
        shot(window, QStringLiteral("settings-page"));
        splitTunnelShots(window, *hub);
        hub->sideStack()->setCurrentIndex(ServerPage::SideSettings);
        QTest::qWait(100);
        for (const QString &name : expanders) {
            if (auto *expander = window.findChild<QWidget *>(name))
                QTest::mousePress(expander, Qt::LeftButton, {}, QPoint(10, 10));
        }
        hub->sideStack()->setCurrentIndex(ServerPage::SideServerList);
        QTest::qWait(100);
    }

    void shot(QWidget &window, const QString &name)
    {
        if (m_options.screenshots.isEmpty())
            return;
        QDir().mkpath(m_options.screenshots);
        QString base = name;
        if (base.endsWith(QLatin1String(".png")))
            base.chop(4);
        const QString file = QDir(m_options.screenshots).filePath(base + m_suffix + QStringLiteral(".png"));
        QDir().mkpath(QFileInfo(file).absolutePath());
        if (window.grab().save(file))
            say(QStringLiteral("SHOT ") + file);
    }

    // A dialog over the window, as the display shows it (a grab of the widget alone would
    // hide a black frame the display draws around translucent parts).
    void dialogShot(QWidget &window)
    {
        if (m_options.screenshots.isEmpty() || QGuiApplication::platformName() != QLatin1String("xcb"))
            return;
        DBox box(&window);
        box.setTitle(QStringLiteral("Would you like to log out?"));
        box.setSubmitText(QStringLiteral("Yes"));
        box.setCancelText(QStringLiteral("No"));
        box.show();
        box.move(window.geometry().center() - box.rect().center());
        QTest::qWait(500);
        const QPixmap picture =
            QGuiApplication::primaryScreen()->grabWindow(0, window.x(), window.y(), window.width(), window.height());
        box.close();
        const QString file =
            QDir(m_options.screenshots)
                .filePath(QStringLiteral("dialog") + m_suffix +
                          (box.isTranslucent() ? QStringLiteral("-composited") : QString()) + QStringLiteral(".png"));
        if (picture.save(file))
            say(QStringLiteral("SHOT ") + file);
    }

    int fail(const QString &why)
    {
        say(QStringLiteral("FAIL ") + why);
        return 1;
    }

    Options m_options;
    QString m_suffix;
    TavrixTest::DevService m_service;
};

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Before anything else: --help and a bad command line need no display and leave nothing.
    Options options;
    const int early = parse(arguments, &options);
    if (early >= 0)
        return early;

    TavrixTest::isolateXdg();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TavrixTest::setIdentity();
    QApplication app(argc, argv);

    TavrixTest::prepareClientApplication(app);

    int code = Journey(options).run();
    // The controller's own shutdown stops a session that is still up.
    return code;
}
