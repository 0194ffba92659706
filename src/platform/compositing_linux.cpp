#include <QByteArray>
#include <QGuiApplication>

#include <cstdlib>
#include <xcb/xcb.h>

#include "platform/compositing.h"

namespace Tavrix {

namespace {

// X11: a compositing manager owns the selection "_NET_WM_CM_S<screen>" (EWMH). Our own
// short connection to the same display asks who owns it.
bool x11ScreenHasCompositor(const char *display)
{
    int screen = 0;
    xcb_connection_t *connection = xcb_connect(display, &screen);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        return false;
    }
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    bool owned = false;
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()), nullptr);
    if (atom && atom->atom != XCB_ATOM_NONE) {
        xcb_get_selection_owner_reply_t *owner =
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
        owned = owner && owner->owner != XCB_WINDOW_NONE;
        std::free(owner);
    }
    std::free(atom);
    xcb_disconnect(connection);
    return owned;
}

} // namespace

bool desktopComposites()
{
    const QString platform = QGuiApplication::platformName();
    // Wayland compositors always composite.
    if (platform.startsWith(QLatin1String("wayland")))
        return true;
    if (platform == QLatin1String("xcb"))
        return x11ScreenHasCompositor(nullptr);
    // Off-screen and other platforms: nothing is behind a window, so nothing to show through.
    return false;
}

} // namespace Tavrix
