#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// The settings panel: protocol filter, quick access, auto connect and the protection items.
class SettingPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit SettingPage(QWidget *parent = nullptr);

signals:
    void clickBack();
    void clickedGeneralButton();
    void clickNetworkProtecton();
    void autoConnectClicked();
    void DarkWebButtonClicked();
    void switchConnectionPage();
    void splitTunnelButtonClicked();
};

} // namespace Tavrix
