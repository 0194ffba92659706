#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// The devices signed in to the account.
class DevicesPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit DevicesPage(QWidget *parent = nullptr);

signals:
    void clickBack();
};

} // namespace Tavrix
