#pragma once

namespace Tavrix {

// True when the desktop composites windows, so that a translucent window shows what lies
// below it. Without a compositor the translucent parts of a window are drawn black: dialogs
// then fall back to an opaque look. Asked afresh at every call (a compositor may start or
// stop while the client runs); a call costs about a round trip to the display server.
bool desktopComposites();

} // namespace Tavrix
