#include "platform/quitsignal.h"

namespace Tavrix {

void quitOnTerminationRequest()
{
    // Windows ends GUI programs by closing their windows, which already quits normally.
}

} // namespace Tavrix
