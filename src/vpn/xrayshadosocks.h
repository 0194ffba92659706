#pragma once

#include <QFuture>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <atomic>

class QProcess;
class QTimer;

namespace Tavrix {

// Shadowsocks through Xray: builds the Xray configuration for the server, starts Xray
// detached (it may outlive the client) and points the system proxy at Xray's local HTTP
// inbound. The runner watches the detached engine by its process id and reports its end;
// it reports `disconnected` at most once and never leaves the system proxy pointing at an
// engine that is gone. Lives on a thread with an event loop; the connect step runs on a
// pool thread.
class XrayShadosocks : public QObject
{
    Q_OBJECT
public:
    explicit XrayShadosocks(QObject *parent = nullptr);

    // The engine configuration for one Shadowsocks server: outbounds proxy, direct, block;
    // SOCKS and HTTP inbounds on loopback; the fixed routing rules.
    static QJsonObject configDocument(const QString &address, int port, const QString &password, const QString &method);

    // disconnectServer() without waiting on the calling thread: the engine and the proxy are
    // stopped on the pool and disconnected follows on this object's thread. The future ends with the stop.
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
    bool conntShadosocksServer();
    void disconnectServer();
    void setNetworkProxy();
    void createConfigFile(const QString &address, int port, const QString &password, const QString &method);
    QString getResourcesPath();
    QString getCongigPath();

private:
    bool fail(const QString &text);
    bool engineAlive() const;
    void watchEngine();
    void reportDisconnected();
    void beginDisconnect();
    static void stopEngineAndProxy();
    void finishDisconnect();

    QString m_address;
    int m_port = 0;
    QString m_password;
    QString m_method;
    QProcess *m_process = nullptr;
    QTimer *m_watch = nullptr;
    std::atomic<qint64> m_pid{0};
    std::atomic_bool m_configWritten{false};
    std::atomic_bool m_cancelled{false};
    std::atomic_bool m_reported{false};
    std::atomic_bool m_proxyOn{false};
};

} // namespace Tavrix
