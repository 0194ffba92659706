#pragma once

namespace Tavrix {

// Lets the system's polite stop requests (session end, service manager, Ctrl+C in a
// terminal) end the event loop normally, so that settings are saved and the log is closed.
// Call once, after the application object exists.
void quitOnTerminationRequest();

} // namespace Tavrix
