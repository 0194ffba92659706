#pragma once

#include <QObject>

class QProcess;

namespace Tavrix {

// V2Ray through Xray: runs Xray on the server's own configuration and points the system
// proxy at Xray's local HTTP inbound.
class V2ray : public QObject
{
    Q_OBJECT
public:
    explicit V2ray(QObject *parent = nullptr);
    // Stops the attached engine program if it still runs.
    ~V2ray() override;

signals:
    void connected();
    void connectingServer();
    void disconnected();

public slots:
    bool connectServer();
    void disconnectServer();
    void setNetworkProxy();
    void resetNetworkProxy();

private:
    QProcess *process = nullptr;
};

} // namespace Tavrix
