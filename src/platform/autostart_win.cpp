#include <QCoreApplication>
#include <QDir>
#include <QSettings>

#include "platform/autostart.h"

namespace Tavrix {

namespace {

const QString runKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString valueName = QStringLiteral("TavrixVPN");

} // namespace

bool startsAtLogin()
{
    return QSettings(runKey, QSettings::NativeFormat).contains(valueName);
}

bool setStartAtLogin(bool on)
{
    QSettings run(runKey, QSettings::NativeFormat);
    if (on)
        run.setValue(valueName, QStringLiteral("\"%1\" --minimized")
                                    .arg(QDir::toNativeSeparators(QCoreApplication::applicationFilePath())));
    else
        run.remove(valueName);
    run.sync();
    return run.status() == QSettings::NoError;
}

} // namespace Tavrix
