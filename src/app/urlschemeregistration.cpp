#include "app/urlschemeregistration.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

#include "common/config.h"
#include "platform/urlscheme.h"

namespace Tavrix {

void registerUrlScheme(const QString &executable)
{
    qDebug().noquote() << "Checking URL scheme registration...";
    if (Config::urlSchemeRegistered() && Config::registeredExecutablePath() == executable) {
        qDebug().noquote() << "URL scheme already registered";
        return;
    }

    qDebug().noquote() << "Registering URL scheme in Windows registry...";
    if (!writeUrlSchemeHandler(executable)) {
        // Not remembered, so the next start tries again.
        qWarning().noquote() << "Failed to register URL scheme in registry";
        return;
    }
    Config::setUrlSchemeRegistered(true);
    Config::setRegisteredExecutablePath(executable);
    qDebug().noquote() << "URL scheme registered successfully";
}

void registerUrlScheme()
{
    registerUrlScheme(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
}

} // namespace Tavrix
