#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// The maker's other applications.
class TavrixMorePage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit TavrixMorePage(QWidget *parent = nullptr);

signals:
    void clickBack();
};

} // namespace Tavrix
