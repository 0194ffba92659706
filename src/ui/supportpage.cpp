#include "ui/supportpage.h"

#include <QPushButton>

namespace Tavrix {

SupportPage::SupportPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Get Support"), 3, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &SupportPage::clickBack);
}

} // namespace Tavrix
