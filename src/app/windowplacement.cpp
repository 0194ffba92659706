#include "app/windowplacement.h"

#include <QDebug>

namespace Tavrix {

WindowPlacement computeWindowPlacement(const QRect &screenGeometry)
{
    const int screenWidth = screenGeometry.right() - screenGeometry.left() + 1;
    const int screenHeight = screenGeometry.bottom() - screenGeometry.top() + 1;
    qDebug().noquote() << "Screen resolution:" << screenWidth << "x" << screenHeight;

    WindowPlacement p;
    // Integer arithmetic: 0.58 has no exact binary form, so a double product can land just
    // below a whole number and lose a pixel.
    p.width = screenWidth * 58 / 100;
    p.height = screenHeight * 68 / 100;
    qDebug().noquote() << "Window size:" << p.width << "x" << p.height;
    p.x = (screenWidth - p.width) / 2;
    p.y = (screenHeight - p.height) / 2;
    qDebug().noquote() << "Window position:" << p.x << "," << p.y;
    return p;
}

} // namespace Tavrix
