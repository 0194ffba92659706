#pragma once

namespace Tavrix {

// Start at login: an entry of the user's session that starts this executable minimized
// ("--minimized") when the user logs in. The entry itself is the setting, so a switch shows
// off again when the user removed it in the desktop's own settings.
bool startsAtLogin();

// Writes or removes the entry; false when it could not be changed.
bool setStartAtLogin(bool on);

} // namespace Tavrix
