#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QFileInfo>
#include <QVariantMap>

#include "platform/notifications.h"

namespace Tavrix {
namespace Notifications {

namespace {

// A notification replaces the previous one of ours instead of piling up.
uint lastId = 0;

Fallback &fallback()
{
    static Fallback stored;
    return stored;
}

void useFallback(const QString &title, const QString &text)
{
    if (fallback())
        fallback()(title, text);
}

} // namespace

void show(const QString &title, const QString &text)
{
    qInfo().noquote() << "Notification:" << title << "-" << text;
    QCoreApplication *app = QCoreApplication::instance();
    // Without a session bus to hand, asking for one would start one (autolaunch).
    const bool busKnown = !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
                          QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus"));
    if (!app || !busKnown) {
        useFallback(title, text);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        useFallback(title, text);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString appName = app->applicationName().isEmpty() ? QStringLiteral("TavrixVPN") : app->applicationName();
    call << appName << lastId << QStringLiteral("network-vpn") << title << text << QStringList() << QVariantMap()
         << qint32(5000);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000), app);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, app, [watcher, title, text] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            useFallback(title, text);
            return;
        }
        lastId = reply.value();
    });
}

void setFallback(Fallback callback)
{
    fallback() = std::move(callback);
}

} // namespace Notifications
} // namespace Tavrix
