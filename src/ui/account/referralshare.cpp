#include "ui/account/referralshare.h"

#include "ui/webaddresses.h"

namespace Tavrix {
namespace ReferralShare {

namespace {

QByteArray encoded(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

QUrl fromEncoded(const QByteArray &address)
{
    return QUrl::fromEncoded(address, QUrl::StrictMode);
}

} // namespace

QStringList titles()
{
    return {QStringLiteral("Mail"),      QStringLiteral("Facebook"), QStringLiteral("Twitter"),
            QStringLiteral("Messenger"), QStringLiteral("LinkedIn"), QStringLiteral("WhatsApp")};
}

QString icon(const QString &title)
{
    if (title == QLatin1String("Mail"))
        return QStringLiteral(":/assets/mail.png");
    if (title == QLatin1String("Facebook"))
        return QStringLiteral(":/assets/facebook.png");
    if (title == QLatin1String("Twitter"))
        return QStringLiteral(":/assets/tw.png");
    if (title == QLatin1String("Messenger"))
        return QStringLiteral(":/assets/messenger.png");
    if (title == QLatin1String("LinkedIn"))
        return QStringLiteral(":/assets/linkden.png");
    if (title == QLatin1String("WhatsApp"))
        return QStringLiteral(":/assets/whatsapp.png");
    return QString();
}

QString message(const QString &referralCode)
{
    return QStringLiteral("Hey! Use my Tavrix VPN Refer Code and Purchase a Subscription \nRefer Code:") + referralCode;
}

QString downloadLine()
{
    return QStringLiteral("\nDownload Tavrix VPN: ") + WebAddress::downloadPage().toString(QUrl::FullyEncoded);
}

QUrl address(const QString &title, const QString &referralCode)
{
    const QString text = message(referralCode);
    const QString download = downloadLine();
    if (title == QLatin1String("Mail")) {
        // The body is encoded like every other share text, so the code cannot end it early.
        QString body = text + download;
        body.remove(QStringLiteral("Sent from Mail for Windows"));
        return fromEncoded("mailto:?subject=" + encoded(QStringLiteral("Tavrix VPN Refer Code")) +
                           "&body=" + encoded(body));
    }
    if (title == QLatin1String("Facebook"))
        return fromEncoded(WebAddress::facebookOrigin().toUtf8() +
                           "/sharer.php?u=" + encoded(WebAddress::homePage().toString(QUrl::FullyEncoded)));
    if (title == QLatin1String("Twitter"))
        return fromEncoded(WebAddress::twitterOrigin().toUtf8() + "/intent/tweet?url=" + encoded(download) +
                           "&text=" + encoded(text));
    if (title == QLatin1String("Messenger"))
        return fromEncoded("fb-messenger://share?link=" + encoded(download) + "&app_id=?&quote=" + encoded(text));
    if (title == QLatin1String("WhatsApp"))
        return fromEncoded("whatsapp://send?text=" + encoded(text));
    if (title == QLatin1String("LinkedIn"))
        return fromEncoded(WebAddress::linkedInOrigin().toUtf8() + "/sharing/share-offsite/?url=" +
                           encoded(WebAddress::downloadPage().toString(QUrl::FullyEncoded)) +
                           "&summary=" + encoded(text));
    return QUrl();
}

} // namespace ReferralShare
} // namespace Tavrix
