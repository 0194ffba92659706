#include "ui/account/darkwebmonitoringpage.h"

#include <QPushButton>

namespace Tavrix {

DarkWebMonitoringPage::DarkWebMonitoringPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Dark Web Monitoring"), -1, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &DarkWebMonitoringPage::clickBack);
}

} // namespace Tavrix
