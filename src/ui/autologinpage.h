#pragma once

#include <QWidget>

class QLabel;
class QMovie;

namespace Tavrix {

class APIManager;
class ConfigurationWait;

// The splash page shown while a signed-in user is signed in again with the stored
// credentials. Every time it is shown it runs the automatic sign-in and reports the result.
class AutoLoginPage : public QWidget
{
    Q_OBJECT
public:
    explicit AutoLoginPage(QWidget *parent = nullptr);
    ~AutoLoginPage() override;

    // True from the start of an automatic sign-in until its result is reported.
    bool isSigningIn() const { return m_running; }

    // Shows the busy animation while the window waits for something else (its first
    // configuration fetch), whatever the automatic sign-in does meanwhile.
    void setWaiting(bool waiting);

    // Runs the automatic sign-in again while the page is already shown (new credentials
    // were stored meanwhile); nothing while one runs or while the page is hidden.
    void startAgain();

    static constexpr int ConfigurationTimeoutMs = 8000;

signals:
    void loginSuccessfull();
    void loginFailed();
    void apiManagerSuccess();
    void apiManagerFailed();

public slots:
    void onConfigUpdated();
    void onConfigUpdateFailed();
    void onConfigFetchCompleted();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void startAutoLogin();
    void continueAfterConfiguration(bool loaded);
    void signIn();
    void stopBusy();
    void showMessage(const QString &title);
    // Fresh enough to sign in without asking the service again.
    static bool cacheIsFresh(bool log);

    QLabel *m_logo;
    QLabel *m_busy;
    // What the splash is doing while the window waits for the first configuration.
    QLabel *m_status;
    QMovie *m_movie;
    APIManager *m_apiManager;
    ConfigurationWait *m_wait;
    bool m_running = false;
    bool m_waiting = false;
    QString m_userName;
    QString m_password;
};

} // namespace Tavrix
