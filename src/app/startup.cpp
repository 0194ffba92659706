#include "app/startup.h"

#include <QDebug>
#include <QIcon>
#include <QJsonDocument>
#include <QMessageBox>
#include <QScreen>

#include <cstdio>
#include <memory>

#include "app/commandline.h"
#include "app/fonts.h"
#include "app/instancechannel.h"
#include "app/qtsingleapplication.h"
#include "app/stylesheet.h"
#include "app/urlschemeregistration.h"
#include "app/versiontracking.h"
#include "app/windowplacement.h"
#include "common/config.h"
#include "common/loginlink.h"
#include "common/serviceurl.h"
#include "log/filelogger.h"
#include "platform/heap.h"
#include "platform/quitsignal.h"
#include "protection/crashrecovery.h"
#include "protection/splittunnelcontrol.h"
#include "ui/accessibility.h"
#include "ui/dbox.h"
#include "ui/mainwindow.h"
#include "ui/msgbox.h"
#include "ui/remotecontrol.h"
#include "ui/servers/connectpage.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {

namespace {

const char *const frameLine = "========================================";
const QString appVersion = QStringLiteral("5.6.0");
const QString wakeUpMessage = QStringLiteral("Wake up!");
constexpr int wakeUpTimeoutMs = 5000;

const char *stateWord(const QWidget *window)
{
    if (window->isMinimized())
        return "Minimized";
    if (window->isMaximized())
        return "Maximized";
    return "Normal";
}

void setIdentity()
{
    QCoreApplication::setApplicationName(QObject::tr("TavrixVPN"));
    QCoreApplication::setApplicationVersion(appVersion);
    QCoreApplication::setOrganizationName(QStringLiteral("Quennark"));
    Config::setAppVersion(appVersion);
}

void openFileLog(bool rotate)
{
    setLogRotationEnabled(rotate);
    if (!initFileLogging())
        fputs("WARNING: Failed to initialize file logging, continuing without it\n", stderr);
    qInstallMessageHandler(fileMessageHandler);
}

// Returns true when the link's credentials were accepted and stored.
bool processLoginLink(const QString &text)
{
    const LoginLink link = parseLoginLink(text);
    if (link.kind != LoginLink::Kind::InvalidCredentials && link.kind != LoginLink::Kind::Valid)
        return false;
    if (link.kind == LoginLink::Kind::InvalidCredentials) {
        qWarning().noquote() << "Invalid credentials from URL scheme";
        QMessageBox box(QMessageBox::Warning, QObject::tr("Invalid Login Link"),
                        QObject::tr("The login link contains invalid credentials."), QMessageBox::Ok);
        box.setInformativeText(QObject::tr("Please login manually using the application."));
        box.exec();
        return false;
    }
    qDebug().noquote() << "Valid credentials received, caching for login";
    cacheLoginLinkCredentials(link);
    qDebug().noquote() << "Credentials cached successfully";
    return true;
}

void loadResources(QApplication &app)
{
    qDebug().noquote() << "\n--- Loading Application Resources ---";
    if (loadApplicationFonts())
        qDebug().noquote() << "All fonts loaded successfully";
    else
        qWarning().noquote() << "Failed to load some application fonts";

    QString sheet;
    if (loadStyleSheet(&sheet)) {
        app.setStyleSheet(sheet);
        qDebug().noquote() << "Styles loaded successfully";
    } else {
        qWarning().noquote() << "Failed to load application styles";
    }
}

} // namespace

void wakeUpWindow(QWidget *window)
{
    qDebug().noquote() << "Received message from another instance";
    qDebug().noquote() << "  Current state:" << stateWord(window);
    if (window->isMinimized() || !window->isVisible())
        window->showNormal();
    window->show();
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
    qDebug().noquote() << "  New state:" << stateWord(window);
    qDebug().noquote() << "  Window brought to front";
}

namespace {

// Options Qt's application object takes for itself.
bool isQtOption(const QByteArray &option)
{
    static const QList<QByteArray> known = {"-platform",
                                            "-platformpluginpath",
                                            "-platformtheme",
                                            "-plugin",
                                            "-qwindowgeometry",
                                            "-qwindowicon",
                                            "-qwindowtitle",
                                            "-reverse",
                                            "-session",
                                            "-style",
                                            "-stylesheet",
                                            "-widgetcount",
                                            "-display",
                                            "-geometry",
                                            "-name",
                                            "-title",
                                            "-visual",
                                            "-nograb",
                                            "-dograb",
                                            "-sync",
                                            "-qmljsdebugger"};
    return known.contains(option.split('=').first());
}

// -1: go on; otherwise the exit code. Runs before any display is opened.
int handleCommandLine(int argc, char **argv)
{
    if (argc < 2)
        return -1;
    const QByteArray first = argv[1];
    if (first == "--help" || first == "-h" || first == "-?" || first == "/?") {
        fputs(commandLineUsage(), stdout);
        return 0;
    }
    if (first == "--version" || first == "-v") {
        printf("TavrixVPN %s\n", qPrintable(appVersion));
        return 0;
    }
    if (first.startsWith('-') && !isQtOption(first)) {
        fprintf(stderr, "tavrixvpn: unknown option %s\n%s", first.constData(), commandLineUsage());
        return 2;
    }
    // A mistyped command must not open the window.
    if (!first.startsWith('-') && !isLoginLink(QString::fromLocal8Bit(first))) {
        fprintf(stderr, "tavrixvpn: unknown command %s\nTry 'tavrixvpn --help'.\n", first.constData());
        return 2;
    }
    return -1;
}

} // namespace

int runApplication(int &argc, char **argv)
{
    // Commands only talk to the running instance: no window, no display, no log file.
    if (isCommandLine(argc, argv)) {
        setIdentity();
        return runCommandLine(argc, argv);
    }
    // Started at login (or by a command): the window waits minimized.
    const bool minimized = takeOption(argc, argv, "--minimized");
    const int early = handleCommandLine(argc, argv);
    if (early >= 0)
        return early;

    // The window draws plain widgets and needs no OpenGL. Left to itself, Qt's X11 platform
    // loads the GL driver at start (about 48 MB with Mesa's software renderer); a user's own
    // choice of the variable still wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    returnLargeBlocksToSystem();
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    setIdentity();

    QtSingleApplication app(argc, argv, true);

    if (app.isRunning()) {
        // The running instance owns the log file: this process only talks on standard error.
        // A login link (a sign-in coming back from the browser) is handed over; anything
        // else only wakes the window.
        const QString argument = argc > 1 ? QString::fromUtf8(argv[1]) : QString();
        const bool forwardLink = isLoginLink(argument);
        qDebug().noquote() << "Starting Tavrix VPN" << appVersion;
        // A start at login finds the client already running: nothing to bring forward.
        if (minimized && !forwardLink)
            return 0;
        qDebug().noquote() << (forwardLink ? "Application is already running, handing the login link to it"
                                           : "Application is already running, waking existing instance");
        app.sendMessage(forwardLink ? argument : wakeUpMessage, wakeUpTimeoutMs);
        return 0;
    }

    openFileLog(true);

    qDebug().noquote() << frameLine;
    qDebug().noquote() << "Starting Tavrix VPN" << appVersion;
    qDebug().noquote() << frameLine;

    qDebug().noquote() << "\n--- Configuration Management ---";
    std::shared_ptr<OpenConnectConnection> controller = OpenConnectConnection::instance();
    OpenConnectConnection::initTls();
    Config::instance()->load();
    // Whatever a killed or crashed last run left behind goes, beside the window: a connect
    // waits for it.
    CrashRecovery::start();
    // Before any page makes its own network manager: a development service's CA
    // (TAVRIXVPN_SERVICE_CA) must be in the default TLS configuration they copy.
    ServiceUrl::trustServiceCertificate();

    trackAppVersion(appVersion);
    registerUrlScheme();

    bool loginFromLink = false;
    if (argc > 1) {
        qDebug().noquote() << "\n--- Processing URL Scheme Parameters ---";
        loginFromLink = processLoginLink(QString::fromUtf8(argv[1]));
    }

    loadResources(app);
    qRegisterMetaType<OpenConnectConnection::Status>("Status");
    Accessibility::showKeyboardFocus();

    qDebug().noquote() << "\n--- Initializing Main Window ---";
    auto window = std::make_unique<MainWindow>(loginFromLink ? QStringLiteral("Yes") : QStringLiteral("Not"));
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/logo.png")));

    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        qCritical().noquote() << "Failed to get primary screen";
        closeFileLogging();
        return -1;
    }
    const WindowPlacement placement = computeWindowPlacement(screen->geometry());
    window->setFixedSize(placement.width, placement.height);
    window->setGeometry(placement.x, placement.y, placement.width, placement.height);

    app.setActivationWindow(window.get(), true);
    MsgBox::setParentWindow(window.get());
    DBox::setParentWindow(window.get());

    MainWindow *windowPtr = window.get();
    QObject::connect(&app, &QtSingleApplication::messageReceived, windowPtr, [windowPtr](const QString &message) {
        wakeUpWindow(windowPtr);
        if (isLoginLink(message))
            windowPtr->onLoginLinkReceived(message);
    });

    auto *remoteControl = new RemoteControl(windowPtr);
    QObject::connect(&app, &QtSingleApplication::commandReceived, remoteControl,
                     [remoteControl](const QString &request, std::shared_ptr<CommandAnswer> answer) {
                         remoteControl->handle(request.toUtf8(), [answer](const QJsonObject &reply) {
                             answer->send(QJsonDocument(reply).toJson(QJsonDocument::Compact));
                         });
                     });

    // One connect page object without a parent, installed as an event filter on the
    // application; it passes every event on, is never shown and makes no connections.
    auto detachedConnectPage = std::make_unique<ConnectPage>(nullptr, ConnectPage::Role::Detached);
    app.installEventFilter(detachedConnectPage.get());

    QApplication::setQuitOnLastWindowClosed(true);
    quitOnTerminationRequest();

    qDebug().noquote() << "\n--- Showing Main Window ---";
    if (minimized) {
        // Shown all the same (minimized), so that the pages do their work on show: the
        // automatic sign-in, the connect screen's status.
        window->showMinimized();
    } else {
        window->raise();
        window->show();
    }

    qDebug().noquote() << "Application initialized successfully";
    qDebug().noquote() << QString::fromLatin1(frameLine) + QLatin1Char('\n');
    const int code = app.exec();

    qDebug().noquote() << QLatin1Char('\n') + QString::fromLatin1(frameLine);
    qDebug().noquote() << "Application shutting down...";
    qDebug().noquote() << frameLine;
    Config::instance()->save();
    qDebug().noquote() << "Configuration saved";
    qDebug().noquote() << "Exit code:" << code;
    // A clean-up still under way finishes first: it may be taking a tunnel down.
    if (!CrashRecovery::waitForThread(30000))
        qWarning().noquote() << "Start-up clean-up still running at exit";
    // Applications chosen to bypass the tunnel go back into it when the client ends.
    SplitTunnelControl::shutdown();
    closeFileLogging();
    detachedConnectPage.reset();
    window.reset();
    // The controller stops a running session when the last reference goes at exit.
    controller.reset();
    return code;
}

} // namespace Tavrix
