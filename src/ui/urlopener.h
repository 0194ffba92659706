#pragma once

#include <QUrl>

#include <functional>

namespace Tavrix {

// The one way the client hands a web address to the desktop's browser. The address is logged
// as "Opening URL: ..." with every credential-bearing query item ("authToken", "token",
// "password") masked, because a token carries the user's credentials in a reversible form.
// Returns false when the address is invalid or the desktop refused it ("Failed to open URL: ...").
bool openUrl(const QUrl &url);

// The text logged for an address: the address with its secret query items replaced by "***".
QString maskedUrl(const QUrl &url);

// Tests replace the desktop hand-off so no real browser starts; the hook sees the full address
// and returns whether "opening" worked. An empty function restores the desktop.
using UrlOpenHook = std::function<bool(const QUrl &)>;
void setUrlOpenHook(UrlOpenHook hook);

} // namespace Tavrix
