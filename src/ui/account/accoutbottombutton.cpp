#include "ui/account/accoutbottombutton.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "api/serviceurl.h"
#include "common/banners.h"
#include "common/user.h"
#include "common/weblink.h"
#include "ui/urlopener.h"

namespace Tavrix {

AccoutBottomButton::AccoutBottomButton(const QSize &pictureSize, QWidget *parent)
    : QLabel(parent)
    , m_pictureSize(pictureSize)
    , m_network(new QNetworkAccessManager(this))
{
    setObjectName(QStringLiteral("AccoutBottomButton"));
    setCursor(Qt::PointingHandCursor);
    setAlignment(Qt::AlignCenter);
    setMinimumHeight(pictureSize.height() / 2);
    ServiceUrl::trustServiceCertificate();
}

void AccoutBottomButton::showEvent(QShowEvent *event)
{
    QLabel::showEvent(event);
    download();
}

void AccoutBottomButton::download()
{
    const QUrl address(User::instance()->featuresImageUrl());
    if (!address.isValid() || address.isEmpty())
        return;
    QNetworkReply *reply = m_network->get(QNetworkRequest(address));
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > Banners::MaxPictureBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            qWarning().noquote() << "Features picture not loaded:" << reply->errorString();
            return;
        }
        QPixmap picture;
        if (!picture.loadFromData(reply->readAll())) {
            qWarning() << "Features picture cannot be decoded";
            return;
        }
        setPixmap(picture.scaled(m_pictureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        m_hasPicture = true;
        emit pictureLoaded();
    });
}

void AccoutBottomButton::mousePressEvent(QMouseEvent *event)
{
    QLabel::mousePressEvent(event);
    const QString link = User::instance()->featuresLink();
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) {
        qWarning().noquote() << "Malformed URL:" << link;
        return;
    }
    openUrl(WebLink::withToken(url, WebLink::currentToken()));
}

} // namespace Tavrix
