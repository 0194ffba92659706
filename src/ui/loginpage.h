#pragma once

#include <QAtomicInt>
#include <QPointer>
#include <QWidget>

#include <memory>

#include "api/signinflow.h"

template<typename T> class QFutureWatcher;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMovie;
class QPushButton;
class QVBoxLayout;

namespace Tavrix {

class ApiRequest;
class AppleAuthButton;
class ConfigurationWait;
class DBox;
class GoogleAuthButton;
class SignUpGmailButton;
class SignUpLabelButton;

// The sign-in form with its three modes: sign-in, sign-up and password reset. The action of
// the current mode runs on a pool thread; everything it changes in the window, the settings,
// the connection controller or the account record is handed to the GUI thread in order.
class LoginPage : public QWidget
{
    Q_OBJECT
public:
    enum Mode { SignIn = SignInFlow::SignIn, SignUp = SignInFlow::SignUp, ResetPassword = SignInFlow::ResetPassword };

    explicit LoginPage(QWidget *parent = nullptr);
    ~LoginPage() override;

    int mode() const { return m_mode; }
    bool isBusy() const { return m_busy; }
    // True while an action runs; a second press is ignored meanwhile.
    bool isActionRunning() const { return m_watcher != nullptr; }

    static constexpr int ConfigurationTimeoutMs = 5000;

    // Whether the service's configuration could be had, told on the page itself (no box).
    enum ServiceState { ServiceReachable, ServiceConnecting, ServiceUnreachable };
    void setServiceState(ServiceState state);
    ServiceState serviceState() const { return m_serviceState; }

signals:
    void loginSuccessfull();
    void signUpPage();
    void buyNow();
    void animationStart();
    void googleButtonClicked();
    void stopAnimation();
    void showDialog(const QString &title);
    void successfullySignUp();
    void forgetPassSuccessfull();
    // The user pressed Retry after the service could not be reached.
    void retryServiceClicked();

public slots:
    void on_btnLogin_pressed();
    void on_btnForgotPassword_pressed();
    void on_btnSignup_pressed();
    void backToLogin();
    void onConfigUpdated();
    void onConfigUpdateFailed();
    void onConfigFetchCompleted();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildForm();
    void buildServiceNotice(QWidget *formHolder, QVBoxLayout *form);
    void buildFields(QWidget *formHolder, QVBoxLayout *form);
    void buildSocial(QWidget *formHolder, QVBoxLayout *form);
    void scaleSideImage(const QSize &box);
    void updateLoginWidgets(bool fillFromConfig = true);
    void fillFromConfig();
    void setBusy(bool busy);
    void openDialog(const QString &title);
    void onSignUpSucceeded();
    void onResetSucceeded();
    void startAction();

    // Pool-thread side.
    void runAction(int mode, const SignInFlow::Entered &entered);
    bool ensureConfiguration(const char *unavailableLog, const char *failedLog, const char *loadedLog = nullptr);
    bool waitForConfiguration(int timeoutMs);
    void tell(const QString &text);
    template<typename F> void onGui(F &&work);

    int m_mode = SignIn;
    std::shared_ptr<ApiRequest> m_api;
    SignUpLabelButton *m_header = nullptr;
    QMovie *m_movie = nullptr;
    bool m_fill = true;
    bool m_busy = false;
    SignInFlow::Entered m_entered;
    QFutureWatcher<void> *m_watcher = nullptr;
    ConfigurationWait *m_wait = nullptr;
    QAtomicInt m_closing = 0;

    QLineEdit *m_editUsername = nullptr;
    QLineEdit *m_editPassword = nullptr;
    QLineEdit *m_editConfirmPassword = nullptr;
    QLineEdit *m_editSubscription = nullptr;
    QCheckBox *m_cbUserConsent = nullptr;
    QPushButton *m_btnForgotPassword = nullptr;
    QPushButton *m_btnLogin = nullptr;
    GoogleAuthButton *m_google = nullptr;
    AppleAuthButton *m_apple = nullptr;
    SignUpGmailButton *m_signUpButton = nullptr;
    QWidget *m_socalAuth = nullptr;
    QLabel *m_appVersion = nullptr;
    QLabel *m_sideImage = nullptr;
    QLabel *m_passwordPrefix = nullptr;
    QLabel *m_passwordSuffix = nullptr;
    QLabel *m_confirmPrefix = nullptr;
    QLabel *m_confirmSuffix = nullptr;
    QWidget *m_topLabelWidget = nullptr;
    QWidget *m_divider = nullptr;
    QWidget *m_confirmPasswordWidget = nullptr;
    QWidget *m_passwordWidget = nullptr;
    QWidget *m_subscriptionCodeWidget = nullptr;
    QWidget *m_formHolder = nullptr;
    QWidget *m_serviceNotice = nullptr;
    QLabel *m_serviceText = nullptr;
    QPushButton *m_btnRetry = nullptr;
    ServiceState m_serviceState = ServiceReachable;
};

} // namespace Tavrix
