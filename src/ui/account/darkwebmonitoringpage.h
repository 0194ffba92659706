#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// Checks an e-mail address against known data breaches.
class DarkWebMonitoringPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit DarkWebMonitoringPage(QWidget *parent = nullptr);

signals:
    void clickBack();
};

} // namespace Tavrix
