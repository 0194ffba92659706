#include "ui/servers/toolspage.h"

#include <QPushButton>

namespace Tavrix {

ToolsPage::ToolsPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Tools"), 4, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &ToolsPage::clickBack);
}

} // namespace Tavrix
