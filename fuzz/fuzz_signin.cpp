// The sign-in reply: decoded with the response key and turned into the account and its
// server list the way the sign-in does, stored and read back as the next start does, and
// every server entry prepared the way the connect page and the engines use it.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "api/apirequest.h"
#include "api/basehttprequest.h"
#include "common/banners.h"
#include "common/countryflags.h"
#include "common/user.h"
#include "fuzzsupport.h"
#include "platform/ping.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/xrayshadosocks.h"

TAVRIX_FUZZ_INIT

namespace {

using namespace Tavrix;

void prepare(const IPBundle &bundle)
{
    const QString ip = bundle.ip();
    bundle.isPlaceholderAddress();
    flagName(bundle.countryCode());
    iconPath(bundle.countryCode());
    Ping::isValidHost(ip.section(QLatin1Char(':'), 0, 0));
    OpenConnectConnection::instance()->setConfig(bundle.config(), ip);
    OpenConnectServer server(ip);
    // Shadowsocks and Outline: address and port from the entry, method and password from its
    // configuration.
    const QStringList parts = ip.split(QLatin1Char(':'));
    const QJsonObject config = QJsonDocument::fromJson(bundle.config().toUtf8()).object();
    XrayShadosocks::configDocument(parts.first(), parts.last().toInt(),
                                   config.value(QStringLiteral("password")).toString(),
                                   config.value(QStringLiteral("method")).toString());
}

void signIn(const QJsonObject &reply)
{
    User user;
    user.fromLoginResponse(reply);
    user.typeText();
    user.activeBundle();
    for (const IPBundlePtr &bundle : user.bundles())
        prepare(*bundle);
    const QString folder = QStringLiteral("/banners/");
    int index = 0;
    for (const QJsonValue &value : user.sliderImages()) {
        const QString name =
            Banners::storedFileName(folder, index++, value.toObject().value(QStringLiteral("img")).toString());
        // A banner picture is written into the banner folder, wherever its address points: no
        // step up out of it on either system's separator.
        const QString inside = name.mid(folder.size());
        if (!name.startsWith(folder) || inside.contains(QLatin1Char('/')) || inside.contains(QLatin1String("..")))
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = TavrixFuzz::bytes(data, size);
    for (const QJsonDocument &document :
         {BaseHttpRequest::decodeResponse(input, ApiRequest::responseKey, nullptr), QJsonDocument::fromJson(input)}) {
        signIn(document.object());
        // The reply is stored as compact JSON and signs the user in again at the next start.
        signIn(QJsonDocument::fromJson(document.toJson(QJsonDocument::Compact)).object());
    }
    return 0;
}
