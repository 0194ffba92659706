#include "ui/splittunnelpage.h"

#include <QPushButton>

namespace Tavrix {

SplitTunnelPage::SplitTunnelPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Split Tunnel"), -1, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &SplitTunnelPage::btnBackClick);
}

void SplitTunnelPage::connectSplitTunnel()
{
}

} // namespace Tavrix
