#include "ui/aboutuspage.h"

#include <QPushButton>

namespace Tavrix {

AboutUsPage::AboutUsPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("About Us"), 7, parent)
{
    connect(backButton(), &QPushButton::pressed, this, &AboutUsPage::clickBack);
}

} // namespace Tavrix
