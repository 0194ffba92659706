#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include "platform/autostart.h"
#include "platform/urlscheme.h"

namespace Tavrix {

namespace {

// The XDG autostart folder of the user ($XDG_CONFIG_HOME/autostart).
QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/tavrixvpn.desktop");
}

} // namespace

bool startsAtLogin()
{
    QFile entry(entryPath());
    if (!entry.open(QIODevice::ReadOnly))
        return false;
    // An entry the user switched off in the desktop's settings stays in place, hidden.
    const QByteArray text = entry.readAll();
    return !text.contains("\nHidden=true") && !text.contains("\nX-GNOME-Autostart-enabled=false");
}

bool setStartAtLogin(bool on)
{
    const QString path = entryPath();
    if (!on)
        return !QFile::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=TavrixVPN\n"
                                         "Comment=Start TavrixVPN minimized at login\n"
                                         "Exec=%1 --minimized\n"
                                         "Icon=tavrixvpn\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(desktopExecArgument(QCoreApplication::applicationFilePath()));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry.toUtf8());
    return file.commit();
}

} // namespace Tavrix
