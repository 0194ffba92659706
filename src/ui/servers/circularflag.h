#pragma once

#include <QPixmap>

namespace Tavrix {

// A country's flag cut to a circle (the centred square of the picture), smoothly scaled to
// the given height. A null pixmap when the country has no flag picture.
QPixmap circularFlag(int countryCode, int height);

// The same cut for any picture.
QPixmap circularPixmap(const QPixmap &source, int height);

} // namespace Tavrix
