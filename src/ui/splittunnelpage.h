#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// Applications that bypass the tunnel.
class SplitTunnelPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit SplitTunnelPage(QWidget *parent = nullptr);

signals:
    void btnBackClick();

public slots:
    // Applies the stored selection of applications.
    void connectSplitTunnel();
};

} // namespace Tavrix
