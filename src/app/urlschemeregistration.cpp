#include "app/urlschemeregistration.h"

#include "platform/urlscheme.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>

namespace Tavrix {

void registerUrlScheme(const QString &executable)
{
    qDebug().noquote() << "Checking URL scheme registration...";
    QSettings settings;
    settings.beginGroup(QStringLiteral("Application"));
    const bool registered = settings.value(QStringLiteral("URLSchemeRegistered"), false).toBool();
    const QString registeredPath = settings.value(QStringLiteral("RegisteredExecutablePath")).toString();
    if (registered && registeredPath == executable) {
        qDebug().noquote() << "URL scheme already registered";
        return;
    }

    qDebug().noquote() << "Registering URL scheme in Windows registry...";
    if (!writeUrlSchemeHandler(executable)) {
        // Not remembered, so the next start tries again.
        qWarning().noquote() << "Failed to register URL scheme in registry";
        return;
    }
    settings.setValue(QStringLiteral("URLSchemeRegistered"), true);
    settings.setValue(QStringLiteral("RegisteredExecutablePath"), executable);
    qDebug().noquote() << "URL scheme registered successfully";
}

void registerUrlScheme()
{
    registerUrlScheme(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
}

} // namespace Tavrix
