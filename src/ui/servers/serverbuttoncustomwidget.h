#pragma once

#include <QWidget>

#include "vpn/openconnectconnection.h"

namespace Tavrix {

// The plain panel behind the quick choices; its colour follows the connection status.
class ServerButtonCustomWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ServerButtonCustomWidget(QWidget *parent = nullptr);

public slots:
    void onStatusChanged(Tavrix::OpenConnectConnection::Status status);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_connected = false;
};

} // namespace Tavrix
