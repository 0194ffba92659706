#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// Chat and e-mail links of the service's support.
class SupportPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit SupportPage(QWidget *parent = nullptr);

signals:
    void clickBack();
};

} // namespace Tavrix
