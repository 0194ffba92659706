#include "common/weblink.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

#include "common/crypto.h"
#include "common/serviceurl.h"
#include "platform/deviceinfo.h"

namespace Tavrix {
namespace WebLink {

namespace {
const QString kTokenItem = QStringLiteral("authToken");

// The service's own domain: the one of its configured origins.
QString serviceDomain()
{
    const QStringList labels = QUrl(QString::fromLatin1(ServiceUrl::directOrigin)).host().split(QLatin1Char('.'));
    return labels.mid(qMax(0, labels.size() - 2)).join(QLatin1Char('.'));
}

bool refuseToken(const QUrl &url)
{
    if (mayCarryToken(url))
        return false;
    qWarning().noquote() << "Not adding the sign-in token to an address outside the service (only https to"
                         << serviceDomain() << "or the configured service origin):"
                         << url.toString(QUrl::RemoveQuery | QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    return true;
}
} // namespace

bool mayCarryToken(const QUrl &url)
{
    if (!url.isValid() || url.scheme() != QLatin1String("https") || !url.userInfo().isEmpty())
        return false;
    const QString host = url.host().toLower();
    const QString domain = serviceDomain();
    if (!domain.isEmpty() && (host == domain || host.endsWith(QLatin1Char('.') + domain)) && url.port(443) == 443)
        return true;
    const QUrl origin = ServiceUrl::overrideOrigin();
    return !origin.isEmpty() && origin.scheme() == QLatin1String("https") && host == origin.host().toLower() &&
           url.port(443) == origin.port(443);
}

QString token(const QString &username, const QString &password, const QString &udid, qint64 nowMs)
{
    const QJsonObject object{{QStringLiteral("username"), username},
                             {QStringLiteral("password"), password},
                             {QStringLiteral("ttl"), QString::number(nowMs + TokenLifetimeMs)},
                             {QStringLiteral("udid"), udid}};
    return encode(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)), CodecKey::link());
}

QString currentToken(const QString &username, const QString &password)
{
    return token(username, password, DeviceInfo::machineId(), QDateTime::currentMSecsSinceEpoch());
}

QUrl withToken(const QUrl &url, const QString &tokenText)
{
    if (refuseToken(url))
        return url;
    QUrl result(url);
    QUrlQuery query(url);
    // Base64 carries "+", "/" and "=": encode them so the shop reads the token back unchanged.
    query.addQueryItem(kTokenItem, QString::fromLatin1(QUrl::toPercentEncoding(tokenText)));
    result.setQuery(query);
    return result;
}

QUrl checkoutUrl(const QString &portal, const QString &idText, const QString &tokenText)
{
    QUrl result(portal + QStringLiteral("/checkout/") + idText);
    if (refuseToken(result))
        return result;
    QUrlQuery query;
    query.addQueryItem(kTokenItem, QString::fromLatin1(QUrl::toPercentEncoding(tokenText)));
    result.setQuery(query);
    return result;
}

QString packageIdText(const QJsonValue &id)
{
    return QString::asprintf("%g", id.toDouble());
}

} // namespace WebLink
} // namespace Tavrix
