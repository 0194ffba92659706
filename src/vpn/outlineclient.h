#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace Tavrix {

// Outline: a Shadowsocks proxy turned into a system-wide tunnel by the tun2socks engine,
// with the route scripts run around it.
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
    struct RouteTask;

    // Written on the pool thread before tun2socksStarted, read after it on this thread.
    QString m_host;
    // Lets the route task on the pool report to this object only while it exists.
    std::shared_ptr<RouteTask> m_routeTask;
};

} // namespace Tavrix
