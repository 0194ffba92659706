#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace Tavrix {

// Outline: a Shadowsocks proxy turned into a system-wide tunnel by the tun2socks engine,
// with the route scripts run around it. Its connect step and route task run on the pool and
// reach the runner only through a shared link, so the runner may be deleted while they run.
class OutlineClient : public QObject
{
    Q_OBJECT
public:
    explicit OutlineClient(QObject *parent = nullptr);
    ~OutlineClient() override;

    // The tunnel program's command line for one Shadowsocks server.
    static QStringList tunnelArguments(const QString &host, const QString &port, const QString &password,
                                       const QString &method);
    // The final check's decision from the process list: true while a tunnel program runs.
    static bool tunnelProgramRunning(const QByteArray &processList);
    // Where the tunnel program's output is kept (in the engine folder).
    static QString tunnelLogPath();

    // The connect step for the pool; it holds the shared link, not the runner.
    std::function<bool()> connectStep();
    // The user gave this attempt up: nothing more is started or reported, and the runner
    // leaves the tunnel to the disconnect that follows (its destruction runs no clean-up).
    void cancel();
    bool isCancelled() const;
    // Why the helper would not set the tunnel up, as a sentence for the user; empty otherwise.
    QString refusal() const;

signals:
    void connected();
    void connectingServer();
    void disconnected();
    void processExit();
    void transfer(quint64 down, quint64 up);
    void tun2socksStarted();
    void routeConfiged();

public slots:
    bool connectServer();
    void disconnectServer();

private slots:
    void configureRoutes();
    void checkTunnel();

private:
    struct PoolLink;
    static bool runConnect(const std::shared_ptr<PoolLink> &link);
    // The same through the privileged helper: an ordinary user's way.
    static bool connectThroughHelper(const std::shared_ptr<PoolLink> &link, const QString &host, const QString &port,
                                     const QString &password, const QString &method);
    // Emits signal on the runner's thread, unless the runner is gone or cancelled by then.
    static void post(const std::shared_ptr<PoolLink> &link, void (OutlineClient::*signal)());

    // Lets the work on the pool report to this object only while it exists and counts.
    std::shared_ptr<PoolLink> m_link;
};

} // namespace Tavrix
