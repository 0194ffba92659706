#pragma once

#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

#include <memory>

#include "vpn/openconnectconnection.h"

class QAction;
class QMenu;
class QStackedWidget;

namespace Tavrix {

class APIManager;
class AutoLoginPage;
class FileOpenEventFilter;
class LoginPage;
class ServerPage;
class ServerSelectionPage;

// The main window: four pages (automatic sign-in, server list, sign-in, signed-in hub),
// the tray icon, the connection status mirror and the log-out reset. Start-up hands it
// "Yes" when a login link was accepted, "Not" otherwise.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    enum Page { AutoLoginPageIndex = 0, ServerSelectionPageIndex, LoginPageIndex, ServerPageIndex };

    explicit MainWindow(const QString &startedFromLink, QWidget *parent = nullptr);
    // The tray's tooltip and picture for a status; reconnecting adds the lost-tunnel mark.
    static QString trayTip(int state, bool reconnecting);
    static QPixmap trayPicture(bool reconnecting);
    ~MainWindow() override;

    QStackedWidget *stack() const { return m_stack; }
    ServerPage *serverPage() const { return m_serverPage; }
    int lastConnectionStatus() const { return m_lastStatus; }
    bool isSignedIn() const { return m_signedIn; }
    // An automatic or typed sign-in runs, or the first page is not decided yet: whether an
    // account will be signed in is not known.
    bool isSigningIn() const;

signals:
    void readyToShutdown();
    void favouriteClick();
    void connectClick();

public slots:
    void onStatusChanged(int state);
    // A lost tunnel is being brought back (or that is over).
    void onReconnectingChanged(bool reconnecting);
    void onReconnectGaveUp(const QString &message);
    void changeBackground(Tavrix::OpenConnectConnection::Status status);
    void onLoginSuccessfull();
    void onLoginFailed();
    void onLogout();
    void onConnectUiAndConnect();
    void deleteBannerImages();
    void refresh();
    void setWindowHide();
    void setLoginWoindow();
    void setSplashWoindow();
    void onApiFetchFinished();
    void handleUrlOpened(QString url);
    void handleFileOpened(QString file);
    // A login link handed over by a second start: signs in with it when nobody is signed
    // in, as a link given at start-up does; otherwise the link is ignored (and logged).
    void onLoginLinkReceived(const QString &link);
    // Retry on the sign-in page: fetches the configuration again and tells the page.
    void retryServiceConfiguration();

    // The tray menu and icon; public so that they work the same without a system tray.
    void onTrayConnectTriggered();
    void onTrayQuitTriggered();
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildForm();
    void setupTray();
    void makeConnections();
    void startDecision();
    void runStartFetch();
    // True while the window still waits to know which page to show first.
    bool startDecisionPending() const;
    void showPage(int index);
    // The tray's tooltip and icon for a status (with the reconnecting mark while a lost tunnel
    // is being brought back).
    void showTrayState(int state);
    // Tells the sign-in page whether the configuration is there, once no fetch runs.
    void reportServiceState();

    QStackedWidget *m_stack = nullptr;
    AutoLoginPage *m_autoLoginPage = nullptr;
    ServerSelectionPage *m_serverSelectionPage = nullptr;
    LoginPage *m_loginPage = nullptr;
    ServerPage *m_serverPage = nullptr;

    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_connectAction = nullptr;
    QAction *m_quitAction = nullptr;
    FileOpenEventFilter *m_fileOpenFilter = nullptr;
    int m_lastStatus = OpenConnectConnection::IDLE;
    // The tunnel was lost since the last CONNECTED: the next one is a "reconnected".
    bool m_wasReconnecting = false;
    std::unique_ptr<APIManager> m_apiManager;
    bool m_fetchConnected = false;
    // The start decision's configuration fetch is scheduled or running.
    bool m_startFetchPending = false;
    bool m_signedIn = false;
    bool m_noTrayTold = false;
    bool m_quitRequested = false;
    OpenConnectConnection::Status m_background = OpenConnectConnection::IDLE;
};

} // namespace Tavrix
