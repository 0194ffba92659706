#include <dwmapi.h>
#include <windows.h>

#include "platform/compositing.h"

namespace Tavrix {

bool desktopComposites()
{
    // Always on from Windows 8; Windows 7 may run the basic (non-composited) theme.
    BOOL enabled = FALSE;
    return SUCCEEDED(DwmIsCompositionEnabled(&enabled)) && enabled;
}

} // namespace Tavrix
