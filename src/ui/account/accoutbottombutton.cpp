#include "ui/account/accoutbottombutton.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "common/banners.h"
#include "common/serviceurl.h"
#include "common/user.h"
#include "common/weblink.h"
#include "ui/accessibility.h"
#include "ui/urlopener.h"
#include "vpn/openconnectconnection.h"

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
    Accessibility::makeClickable(this, QStringLiteral("Special offer"), QAccessible::Link);
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
        m_picture = picture.scaled(m_pictureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        setPixmap(m_picture);
        m_hasPicture = true;
        fitPicture();
        emit pictureLoaded();
    });
}

QSize AccoutBottomButton::sizeHint() const
{
    return QLabel::sizeHint().expandedTo(m_picture.size());
}

QSize AccoutBottomButton::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}

void AccoutBottomButton::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    fitPicture();
}

void AccoutBottomButton::fitPicture()
{
    if (m_picture.isNull())
        return;
    const QPixmap shown =
        width() >= m_picture.width() ? m_picture : m_picture.scaledToWidth(qMax(1, width()), Qt::SmoothTransformation);
    // Setting the same size again would ask the layout for another round.
    if (pixmap(Qt::ReturnByValue).size() != shown.size())
        setPixmap(shown);
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
    const auto controller = OpenConnectConnection::instance();
    openUrl(WebLink::withToken(url, WebLink::currentToken(controller->getUsername(), controller->getPassword())));
}

} // namespace Tavrix
