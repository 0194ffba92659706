#include "ui/account/devicespage.h"

#include <QPushButton>

namespace Tavrix {

DevicesPage::DevicesPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Devices"), 10, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &DevicesPage::clickBack);
}

} // namespace Tavrix
