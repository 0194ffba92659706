#include "ui/tavrixmorepage.h"

#include <QPushButton>

namespace Tavrix {

TavrixMorePage::TavrixMorePage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("More from Tavrix"), -1, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &TavrixMorePage::clickBack);
}

} // namespace Tavrix
