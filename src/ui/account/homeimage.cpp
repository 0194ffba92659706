#include "ui/account/homeimage.h"

#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>

#include "common/banners.h"
#include "common/serviceurl.h"
#include "common/user.h"
#include "common/weblink.h"
#include "platform/paths.h"
#include "ui/account/bannerimage.h"
#include "ui/urlopener.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {

namespace {
constexpr int kSlideMs = 10000;
}

HomeImage::HomeImage(QWidget *parent)
    : QWidget(parent)
    , m_network(new QNetworkAccessManager(this))
{
    setObjectName(QStringLiteral("HomeImage"));
    ServiceUrl::trustServiceCertificate();

    m_picture = new BannerImage(this);
    m_picture->setObjectName(QStringLiteral("bannerPicture"));
    m_picture->resize(550, 100);
    // The strip takes the room the page gives it (less on a small window); the picture is
    // fitted to it, never the page to the picture.
    m_picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_picture->setAlignment(Qt::AlignCenter);

    m_bannerWidget = new BannerImage(this);
    m_bannerWidget->setObjectName(QStringLiteral("bannerWidget"));
    m_bannerWidget->setAttribute(Qt::WA_TranslucentBackground);
    m_bannerWidget->setCursor(Qt::PointingHandCursor);
    m_bannerWidget->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

    m_bottomButton = new QWidget(this);
    m_bottomButton->setObjectName(QStringLiteral("bottomButton"));
    m_layout = new QHBoxLayout(m_bottomButton);
    m_layout->setObjectName(QStringLiteral("layout"));
    m_layout->setContentsMargins(0, 0, 0, 6);
    m_layout->setSpacing(4);

    // All three share one cell: the picture at the back, the press catcher over it and the
    // dots on top of both.
    auto *stack = new QGridLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(m_picture, 0, 0);
    stack->addWidget(m_bannerWidget, 0, 0);
    stack->addWidget(m_bottomButton, 0, 0, Qt::AlignHCenter | Qt::AlignBottom);
    m_picture->lower();
    m_bottomButton->raise();

    m_slideTimer.setInterval(kSlideMs);
    connect(&m_slideTimer, &QTimer::timeout, this, &HomeImage::nextSlide);
    connect(m_bannerWidget, &BannerImage::pressed, this, &HomeImage::btnImageClicked);
}

HomeImage::~HomeImage()
{
    m_slideTimer.stop();
}

QSize HomeImage::sizeHint() const
{
    return QSize(550, 100);
}

void HomeImage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            rebuild();
    });
}

void HomeImage::rebuild()
{
    m_slideTimer.stop();
    m_banners = User::instance()->sliderImages();
    m_clickUrls.clear();
    QStringList pictures;
    for (const QJsonValue &value : m_banners) {
        const QJsonObject banner = value.toObject();
        m_clickUrls << banner.value(QStringLiteral("onclick_url")).toString();
        pictures << banner.value(QStringLiteral("img")).toString();
    }

    qDeleteAll(m_dots);
    m_dots.clear();
    for (int i = 0; i < pictures.size(); ++i) {
        const QString address = pictures.at(i);
        QNetworkReply *reply = m_network->get(QNetworkRequest(QUrl(address)));
        ++m_pending;
        // A banner is a small strip: anything far larger is not one, and is not kept.
        connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
            if (received > Banners::MaxPictureBytes || total > Banners::MaxPictureBytes)
                reply->abort();
        });
        connect(reply, &QNetworkReply::finished, this, [this, reply, i, address] { storePicture(reply, i, address); });
    }

    const QIcon dotIcon(QStringLiteral(":/assets/Ellipse.png"));
    const QSize dotSize = QPixmap(QStringLiteral(":/assets/Ellipse.png")).size().boundedTo(QSize(12, 12));
    for (int i = 0; i < m_banners.size(); ++i) {
        auto *dot = new QPushButton(m_bottomButton);
        dot->setObjectName(QStringLiteral("bannerDot"));
        dot->setAccessibleName(QStringLiteral("Show offer %1 of %2").arg(i + 1).arg(m_banners.size()));
        dot->setIcon(dotIcon);
        dot->setIconSize(dotSize);
        dot->setFixedSize(dotSize + QSize(4, 4));
        dot->setCursor(Qt::PointingHandCursor);
        connect(dot, &QPushButton::clicked, this, [this, i] { showDot(i); });
        m_layout->addWidget(dot);
        m_dots.append(dot);
    }
    qDebug() << "enter the size:::" << m_banners.size();

    m_position = 0;
    if (!m_banners.isEmpty()) {
        m_picture->showPicture(0, m_banners.size());
        m_slideTimer.start(kSlideMs);
        m_position = 1;
    }
}

void HomeImage::storePicture(QNetworkReply *reply, int index, const QString &address)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        qWarning().noquote() << "Error downloading image from " + address + ": " + reply->errorString();
    } else {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        Banners::store(Banners::storedFileName(bannerFolder(), index, address), reply->readAll(),
                       length.isValid() ? length.toLongLong() : -1);
    }
    if (--m_pending == 0)
        emit downloadsFinished();
}

void HomeImage::nextSlide()
{
    if (m_banners.isEmpty())
        return;
    if (m_position >= m_banners.size())
        m_position = 0;
    m_picture->showPicture(m_position, m_banners.size());
    m_bottomButton->setVisible(true);
    ++m_position;
}

void HomeImage::showDot(int index)
{
    m_slideTimer.stop();
    const int shown = index >= m_banners.size() ? 0 : index;
    m_picture->showPicture(shown, m_banners.size());
    m_position = index + 1;
    m_slideTimer.start(kSlideMs);
}

void HomeImage::btnImageClicked()
{
    const auto controller = OpenConnectConnection::instance();
    const QString token = WebLink::currentToken(controller->getUsername(), controller->getPassword());
    const int index = qMax(0, m_position - 1);
    if (m_clickUrls.isEmpty() || index >= m_clickUrls.size()) {
        qWarning() << "Invalid clickURLS array or index.";
        return;
    }
    const QUrl url(m_clickUrls.at(index), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) {
        qWarning().noquote() << "Malformed URL:" << m_clickUrls.at(index);
        return;
    }
    openUrl(WebLink::withToken(url, token));
}

} // namespace Tavrix
