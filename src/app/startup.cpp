#include "app/startup.h"

#include <QDebug>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>

#include <cstdio>
#include <memory>

#include "api/serviceurl.h"
#include "app/fonts.h"
#include "app/loginlink.h"
#include "app/qtsingleapplication.h"
#include "app/stylesheet.h"
#include "app/urlschemeregistration.h"
#include "app/versiontracking.h"
#include "app/windowplacement.h"
#include "common/config.h"
#include "log/filelogger.h"
#include "platform/quitsignal.h"
#include "ui/dbox.h"
#include "ui/mainwindow.h"
#include "ui/msgbox.h"
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

int runApplication(int &argc, char **argv)
{
    // The window draws plain widgets and needs no OpenGL. Left to itself, Qt's X11 platform
    // loads the GL driver at start (about 48 MB with Mesa's software renderer); a user's own
    // choice of the variable still wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    setIdentity();

    QtSingleApplication app(argc, argv, true);
    // A second start only wakes the first one: it must not rewrite the shared log under it.
    openFileLog(!app.isRunning());

    qDebug().noquote() << frameLine;
    qDebug().noquote() << "Starting Tavrix VPN" << appVersion;
    qDebug().noquote() << frameLine;

    if (app.isRunning()) {
        qDebug().noquote() << "Application is already running, waking existing instance";
        app.sendMessage(wakeUpMessage, wakeUpTimeoutMs);
        closeFileLogging();
        return 0;
    }

    qDebug().noquote() << "\n--- Configuration Management ---";
    std::shared_ptr<OpenConnectConnection> controller = OpenConnectConnection::instance();
    OpenConnectConnection::initTls();
    Config::instance()->load();
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

    QWidget *windowPtr = window.get();
    QObject::connect(&app, &QtSingleApplication::messageReceived, windowPtr,
                     [windowPtr](const QString &) { wakeUpWindow(windowPtr); });

    // One connect page object without a parent, installed as an event filter on the
    // application; it passes every event on, is never shown and makes no connections.
    auto detachedConnectPage = std::make_unique<ConnectPage>(nullptr, ConnectPage::Role::Detached);
    app.installEventFilter(detachedConnectPage.get());

    QApplication::setQuitOnLastWindowClosed(true);
    quitOnTerminationRequest();

    qDebug().noquote() << "\n--- Showing Main Window ---";
    window->raise();
    window->show();

    qDebug().noquote() << "Application initialized successfully";
    qDebug().noquote() << QString::fromLatin1(frameLine) + QLatin1Char('\n');
    const int code = app.exec();

    qDebug().noquote() << QLatin1Char('\n') + QString::fromLatin1(frameLine);
    qDebug().noquote() << "Application shutting down...";
    qDebug().noquote() << frameLine;
    Config::instance()->save();
    qDebug().noquote() << "Configuration saved";
    qDebug().noquote() << "Exit code:" << code;
    closeFileLogging();
    detachedConnectPage.reset();
    window.reset();
    // The controller stops a running session when the last reference goes at exit.
    controller.reset();
    return code;
}

} // namespace Tavrix
