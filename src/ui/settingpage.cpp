#include "ui/settingpage.h"

#include <QPushButton>

namespace Tavrix {

SettingPage::SettingPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Settings"), 9, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &SettingPage::clickBack);
}

} // namespace Tavrix
