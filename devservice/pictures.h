#pragma once

#include <QByteArray>

namespace Tavrix {
namespace Dev {

// PNG pictures the service hands out: the banner slides (550 x 100) and the features box
// of the plans page (500 x 160). Drawn once, without text, so no font is needed.
QByteArray bannerPng(int number); // 1-based; empty for an unknown number
QByteArray featuresPng();

} // namespace Dev
} // namespace Tavrix
