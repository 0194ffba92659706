#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// About the service: newsletter and the service's pages.
class AboutUsPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit AboutUsPage(QWidget *parent = nullptr);

signals:
    void clickBack();
};

} // namespace Tavrix
