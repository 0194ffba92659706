#pragma once

#include <QRect>

namespace Tavrix {

// Size and position of the main window on a screen: 58 % x 68 % of the screen, centred on
// a screen whose origin is taken as (0, 0).
struct WindowPlacement
{
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
};

WindowPlacement computeWindowPlacement(const QRect &screenGeometry);

} // namespace Tavrix
