#include <QSettings>

#include "platform/urlscheme.h"

namespace Tavrix {

bool writeUrlSchemeHandler(const QString &executable)
{
    QSettings key(QStringLiteral("HKEY_CURRENT_USER\\Software\\Classes\\TavrixVPN"), QSettings::NativeFormat);
    key.setValue(QStringLiteral("Default"), QStringLiteral("URL:Tavrix VPN Protocol"));
    key.setValue(QStringLiteral("URL Protocol"), QString());
    key.setValue(QStringLiteral("DefaultIcon"), executable);
    key.setValue(QStringLiteral("shell/Default"), QStringLiteral("open"));
    key.setValue(QStringLiteral("shell/open/command/Default"),
                 QStringLiteral("\"%1\" \"%2\"").arg(executable, QStringLiteral("%1")));
    key.sync();
    return key.status() == QSettings::NoError;
}

} // namespace Tavrix
