#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;
class QWidget;

namespace Tavrix {

class CommandAnswer;

// A QApplication that knows whether another copy of the same executable already runs in
// this user session, and lets a second copy send a text to the first one.
//
// The identity comes from the executable's path, so two copies at different paths are two
// applications. The first copy holds a lock file and listens on a local socket, both in the
// user's runtime folder.
class QtSingleApplication : public QApplication
{
    Q_OBJECT
public:
    QtSingleApplication(int &argc, char **argv, bool guiEnabled = true);
    ~QtSingleApplication() override;

    // True when another instance was already running when this one started.
    bool isRunning() const;

    // Delivers text to the running instance; false when it could not be delivered within
    // timeout ms (or when this is the only instance).
    bool sendMessage(const QString &text, int timeout = 5000);

    // The widget brought to the front when a message arrives (with activateOnMessage).
    void setActivationWindow(QWidget *window, bool activateOnMessage = true);
    QWidget *activationWindow() const;

public slots:
    void activateWindow();

signals:
    // A wake-up or a login link from a second start.
    void messageReceived(const QString &message);
    // A command from the command line (the text after the command prefix); the receiver
    // answers through answer, now or later.
    void commandReceived(const QString &request, std::shared_ptr<Tavrix::CommandAnswer> answer);

private:
    void startServer();
    void acceptConnection();

    QString m_serverName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
    bool m_running = false;
    QPointer<QWidget> m_activationWindow;
    bool m_activateOnMessage = false;
};

} // namespace Tavrix
