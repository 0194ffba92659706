// Addresses of banners, the features box and the shop come from the service: the sign-in token
// goes only into https addresses of the service's own hosts, whatever the text is.
#include <QUrlQuery>

#include "common/weblink.h"
#include "fuzzsupport.h"

TAVRIX_FUZZ_INIT

namespace {

bool ownHost(const QUrl &url)
{
    const QString host = url.host().toLower();
    return url.isValid() && url.scheme() == QLatin1String("https") && url.userInfo().isEmpty() &&
           url.port(443) == 443 &&
           (host == QLatin1String("tavrixvpn.com") || host.endsWith(QLatin1String(".tavrixvpn.com")));
}

bool carriesToken(const QUrl &url)
{
    return QUrlQuery(url).hasQueryItem(QStringLiteral("authToken"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace Tavrix;
    const QString text = QString::fromUtf8(TavrixFuzz::bytes(data, size));
    const QString token = QStringLiteral("TOKEN");
    for (const QUrl &url : {QUrl(text, QUrl::StrictMode), QUrl(text)}) {
        const QUrl banner = WebLink::withToken(url, token);
        if (WebLink::mayCarryToken(url) != ownHost(url))
            __builtin_trap();
        if (!ownHost(url) && banner != url)
            __builtin_trap();
        if (ownHost(url) && (!carriesToken(banner) || banner.host() != url.host() || banner.scheme() != url.scheme()))
            __builtin_trap();
    }
    const int slash = text.indexOf(QLatin1Char('|'));
    const QUrl checkout = WebLink::checkoutUrl(text.left(slash), text.mid(slash + 1), token);
    if (carriesToken(checkout) && !ownHost(checkout))
        __builtin_trap();
    return 0;
}
