#include "common/weblink.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

#include "common/crypto.h"
#include "platform/deviceinfo.h"

namespace Tavrix {
namespace WebLink {

namespace {
const QString kTokenItem = QStringLiteral("authToken");
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
