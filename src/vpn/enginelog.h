#pragma once

#include <QString>

namespace Tavrix {

// Writes one progress or error text of the connection code to the application log.
void engineLog(const QString &text);

} // namespace Tavrix
