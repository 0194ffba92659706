#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

class QIODevice;
class QLocalServer;
class QLocalSocket;
class QTcpServer;
class QTcpSocket;
class QTemporaryDir;
class QTemporaryFile;

namespace Tavrix {
class EngineProcess;
}

// Runs one OpenVPN tunnel: the OpenVPN program driven through its management interface.
// The controller creates one per connect; the runner deletes itself when the program ends.
// Where the privileged helper runs, the helper starts OpenVPN and hands the runner the
// management link as a connected Unix socket (the runner alone holds it, and the credentials
// go over it only); without the helper a root client starts OpenVPN itself and listens for
// the link on a Unix socket in a folder only it may enter (on Windows, on 127.0.0.1).
class OpenVpnRunner : public QObject
{
    Q_OBJECT
public:
    explicit OpenVpnRunner(QObject *parent = nullptr);
    ~OpenVpnRunner() override;

    Tavrix::EngineProcess *process() const { return m_process; }
    // Where OpenVPN started by this runner connects for its management link: a socket path
    // (on Windows "127.0.0.1 <port>"); empty when not listening.
    QString managementAddress() const;
    bool isManagementListening() const;
    // Closes the listener and the link of an OpenVPN this runner started itself; the link
    // the helper handed over stays, its close tells when the helper has stopped OpenVPN.
    void closeManagement();
    bool isDisconnectReported() const { return m_disconnectReported; }
    void setDisconnectReported(bool reported) { m_disconnectReported = reported; }
    bool isProgramRunning() const;
    // Asks the program to end (SIGTERM, so it takes its routes down), killing it if it is
    // still there after a grace time. Does not wait; `disconnected` and deletion follow its end.
    void stopProgram();
    // Asks OpenVPN to drop its connection and make a new one at once (its own restart, with
    // the same credentials); its state lines report the way back.
    void restartSession();

    // The engine file to start; the one shipped beside the client unless set.
    void setProgram(const QString &path) { m_program = path; }
    // Path of the private profile while it is on disk, else empty.
    QString profilePath() const;

    // Why the last connect refused the server's profile, as the user is told; empty otherwise.
    QString refusal() const { return m_refusal; }

    // A value for a management command: backslashes doubled, quotes escaped, all in quotes.
    static QString quoted(const QString &value);
    // `management`: the address words of --management ("<path> unix", or "127.0.0.1 <port>").
    static QStringList arguments(const QString &profilePath, const QStringList &management);

    // One line of the management link as read, line end included: answers OpenVPN's
    // questions and turns its notifications into the signals below.
    void handleManagementLine(const QByteArray &received);

signals:
    void connected();
    void connecting();
    void disconnected();
    void processExit();
    void transfer(quint64 down, quint64 up);

public slots:
    bool connect(const QString &config, const QString &username, const QString &password);
    void disconnect();
    void managmentReadLine();

private:
    bool writeProfile(const QString &config);
    void discardProfile();
    void onManagementConnection();
    void onProgramFinished();
    void reportDisconnected();
    void sendCommand(const QByteArray &command);
    void sendOpeningCommands();
    bool failStart();
    bool connectThroughHelper(const QString &config);
    void onHelperStopped();
    void noteEngineLine(const QString &line);
    QIODevice *management() const;
    bool listenForManagement(QStringList *address);

    QString m_username;
    QString m_password;
    Tavrix::EngineProcess *m_process = nullptr;
    // A root client's own OpenVPN: the listener and the link it connected.
    QTcpServer *m_managementServer = nullptr;
    QTcpSocket *m_managementSocket = nullptr;
    QTemporaryDir *m_managementFolder = nullptr;
    QLocalServer *m_localServer = nullptr;
    QLocalSocket *m_localManagement = nullptr;
    QTemporaryFile *m_configFile = nullptr;
    bool m_disconnectReported = false;
    QString m_program;
    // Through the helper: its tunnel, and the management link it handed over.
    QString m_helperTunnel;
    QLocalSocket *m_helperManagement = nullptr;
    bool m_helperStopping = false;
    // The tunnel is up (OpenVPN said CONNECTED, and not yet RECONNECTING).
    bool m_established = false;
    // Since the last refused packet of the established tunnel; invalid when there was none.
    QElapsedTimer m_refusedClock;
    QString m_refusal;
};
