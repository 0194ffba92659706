#include "urlopener.h"

#include <QDebug>
#include <QDesktopServices>
#include <QUrlQuery>

namespace Tavrix {

namespace {

UrlOpenHook &hook()
{
    static UrlOpenHook instance;
    return instance;
}

bool isSecretKey(const QString &key)
{
    static const QStringList secrets{QStringLiteral("authToken"), QStringLiteral("token"), QStringLiteral("password")};
    return secrets.contains(key, Qt::CaseInsensitive);
}

} // namespace

QString maskedUrl(const QUrl &url)
{
    if (!url.hasQuery())
        return url.toString();
    QUrl shown(url);
    QUrlQuery query(url);
    QUrlQuery masked;
    for (const auto &item : query.queryItems(QUrl::FullyEncoded))
        masked.addQueryItem(item.first, isSecretKey(item.first) ? QStringLiteral("***") : item.second);
    shown.setQuery(masked);
    return shown.toString();
}

bool openUrl(const QUrl &url)
{
    if (!url.isValid() || url.isEmpty() || url.scheme().isEmpty()) {
        qWarning() << "Failed to open URL:" << maskedUrl(url);
        return false;
    }
    qInfo().noquote() << "Opening URL:" << maskedUrl(url);
    const bool opened = hook() ? hook()(url) : QDesktopServices::openUrl(url);
    if (!opened)
        qWarning().noquote() << "Failed to open URL:" << maskedUrl(url);
    return opened;
}

void setUrlOpenHook(UrlOpenHook hookFunction)
{
    hook() = std::move(hookFunction);
}

} // namespace Tavrix
