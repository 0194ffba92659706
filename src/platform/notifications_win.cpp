#include <QDebug>

#include "platform/notifications.h"

namespace Tavrix {
namespace Notifications {

namespace {
Fallback &fallback()
{
    static Fallback stored;
    return stored;
}
} // namespace

void show(const QString &title, const QString &text)
{
    // The tray balloon is Windows' own notification.
    qInfo().noquote() << "Notification:" << title << "-" << text;
    if (fallback())
        fallback()(title, text);
}

void setFallback(Fallback callback)
{
    fallback() = std::move(callback);
}

} // namespace Notifications
} // namespace Tavrix
