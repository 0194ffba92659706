#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// Network test: protection, public address, throughput and round-trip time.
class ToolsPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit ToolsPage(QWidget *parent = nullptr);

signals:
    void clickBack();
};

} // namespace Tavrix
