#pragma once

#include <QFuture>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>

#include "helperproto/wireguardstats.h"

class QProcess;
class QTimer;

namespace Tavrix {

// WireGuard: fetches the tunnel configuration for the chosen server from the account service,
// writes it to the engine folder and starts the WireGuard client program on it with
// administrator rights. The client program brings the tunnel up and keeps it until stopped.
// Where the privileged helper runs, the configuration goes to it as typed fields instead (no
// file of ours holds the key) and the helper runs the client program.
class Wireguard : public QObject
{
    Q_OBJECT
public:
    // The tunnel configuration of a server (vpn_server_id, ip_id, connection_type) from the
    // account service, empty on failure. Handed in by the runner's creator, as the service's
    // API sits above the engines; it runs on the connect step's thread. Without one the
    // connect fails as on an empty reply.
    using ConfigFetch = std::function<QString(int vpnServerId, int ipId, int connectionType)>;

    explicit Wireguard(ConfigFetch fetchConfig = {}, QObject *parent = nullptr);
    // Stops the WireGuard client program this runner started, as a user disconnect does.
    ~Wireguard() override;

    // "wireguard.conf" in the engine folder.
    static QString configFilePath();
    // The client program beside the client, and what it is started with.
    static QString clientProgram();
    static QStringList clientArguments(const QString &configFile);

    // Whether a service reply is a usable WireGuard configuration: an [Interface] with a
    // private key and an address that parses, and at least one [Peer] with a public key;
    // nothing else but "Key = value" lines, comments and section headers. On refusal *reason
    // says why (never any part of the text: it holds the private key).
    static bool isConfiguration(const QString &text, QString *reason);
    // The first address of the [Interface] that parses (without its prefix length; IPv4
    // preferred within one Address line); the tunnel is up once an interface carries it.
    static QString tunnelAddress(const QString &text);
    // An address on the far side of the tunnel that answers while the server is there: the
    // first host of the [Interface]'s IPv4 network (the server's own tunnel address in the
    // usual set-ups), else the first IPv4 DNS server. Empty when there is none.
    static QString gatewayAddress(const QString &text);
    // gatewayAddress of the running tunnel's configuration; empty before it is known.
    QString probeAddress() const;

    // What the running tunnel's device says (last handshake, bytes each way): through the
    // helper when it runs the tunnel, read directly otherwise (a root client). ok is false
    // (with *error) when there is no tunnel or it cannot be read. Blocks briefly: call it off
    // the GUI thread. Safe while the runner lives.
    HelperProto::WireGuardStats health(QString *error);

    // Why the last connect refused the service's configuration, as the user is told; empty
    // otherwise. Read once the connect step has ended.
    QString refusal() const { return m_refusal; }

    // A newer connect has taken over: this runner no longer watches or reports the tunnel.
    void stopWatching();
    // disconnectServer() without waiting on the calling thread: the client program is stopped
    // on the pool and disconnected follows on this object's thread. The future ends with the stop.
    QFuture<bool> disconnectServerLater();

signals:
    void connected();
    void connectingServer();
    void disconnected();
    void processExit();
    void transfer(quint64 down, quint64 up);
    void tun2socksStarted();
    void routeConfiged();

public slots:
    // The connect step; runs on a pool thread. True once the tunnel is up.
    bool connectServer();
    void disconnectServer();
    void startWireguardProcess(const QString &configFilePath, const QString &command);
    void onProcessFinished(int exitCode);
    void killWindowsProcess();

private:
    void beginDisconnect();
    bool startElevated(const QString &configFile, const QString &address);
    bool waitForTunnel(const QString &address);
    void fail(const QString &text);
    void importClientOutput();
    void removeConfiguration();
    void watchClient();
    // Logs the buffered helper output of our tunnel (GUI thread).
    void flushEarlyOutput();
    bool startThroughHelper(const QString &text);
    bool clientRunning();
    QString helperTunnel();
    QString takeHelperTunnel();

    const ConfigFetch m_fetchConfig;
    QProcess *m_process = nullptr;
    QTimer *m_watch = nullptr;
    mutable QMutex m_probeLock;
    QString m_probeAddress;
    // Set by a user disconnect while the connect step still runs: it then ends quietly.
    std::atomic_bool m_cancelled{false};
    // This runner started the client program that runs now; it stops it when it goes.
    std::atomic_bool m_ownsClient{false};
    // The helper's tunnel while it runs through the helper; set on the pool, read on the GUI
    // thread.
    QMutex m_helperLock;
    QString m_helperTunnel;
    // The helper's output lines (tunnel, line) that came before our tunnel's name was known.
    static constexpr int maxEarlyOutput = 200;
    QVector<QPair<QString, QString>> m_earlyOutput;
    // The device of a tunnel this client runs itself (root path); guarded by m_helperLock.
    QString m_interface;
    QString m_refusal;
};

} // namespace Tavrix
