#include "ui/account/bannerimage.h"

#include <QDebug>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QImageReader>
#include <QMouseEvent>
#include <QPropertyAnimation>

#include "common/banners.h"
#include "platform/paths.h"
#include "ui/accessibility.h"

namespace Tavrix {

BannerImage::BannerImage(QWidget *parent)
    : QLabel(parent)
{
    Accessibility::makeClickable(this, QStringLiteral("Offer banner"), QAccessible::Link);
}

QString BannerImage::pictureFile(int index)
{
    return Banners::shownFileName(bannerFolder(), index);
}

qreal BannerImage::opacity() const
{
    return m_effect ? m_effect->opacity() : 1.0;
}

bool BannerImage::showPicture(int index, int count)
{
    const QString fileName = pictureFile(index);
    const QFileInfo info(fileName);
    if (!info.exists() || !info.isFile()) {
        qDebug().noquote() << "File does not exist or is not a valid file:" << fileName;
        return false;
    }
    if (!info.permission(QFileDevice::ReadOwner) && !info.permission(QFileDevice::ReadUser)) {
        qDebug() << "File is not readable. Permission issue.";
        return false;
    }
    QPixmap picture;
    if (!picture.load(fileName)) {
        QStringList formats;
        for (const QByteArray &format : QImageReader::supportedImageFormats())
            formats << QString::fromLatin1(format);
        qDebug().noquote() << fileName << "Supported formats:" << formats.join(QStringLiteral(", "));
        return false;
    }
    m_source = picture;
    showScaled();

    if (!m_effect) {
        m_effect = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(m_effect);
        m_fade = new QPropertyAnimation(m_effect, "opacity", this);
    }
    m_fade->stop();
    m_effect->setOpacity(1.0);
    if (count != 1) {
        // The effect clamps to 0..1: full for the first two thirds, a fade in the last third.
        m_fade->setDuration(10000);
        m_fade->setStartValue(3.0);
        m_fade->setEndValue(0.0);
        m_fade->start();
    }
    return true;
}

void BannerImage::showScaled()
{
    // 540 x 100 as designed; a narrower or lower strip (a small window) gets the same shape
    // smaller rather than a cut picture.
    const QSize target = QSize(540, 100).scaled(size().boundedTo(QSize(540, 100)), Qt::KeepAspectRatio);
    if (!m_source.isNull() && !target.isEmpty())
        setPixmap(m_source.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

void BannerImage::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    showScaled();
}

void BannerImage::mousePressEvent(QMouseEvent *event)
{
    qDebug() << "mouse press";
    emit pressed();
    QLabel::mousePressEvent(event);
}

} // namespace Tavrix
