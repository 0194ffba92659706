#pragma once

#include <QLabel>
#include <QPixmap>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace Tavrix {

// One banner strip: shows a stored picture and fades it out towards the next slide; a press
// emits pressed(). The picture fills 540 x 100, or as much of that shape as the strip has. The slider also lays a
// transparent one over the picture to catch presses.
class BannerImage : public QLabel
{
    Q_OBJECT
public:
    explicit BannerImage(QWidget *parent = nullptr);

    // Shows picture `index` of `count` from the banner folder; false (and the previous
    // picture stays) when the file is missing, unreadable or not a picture.
    bool showPicture(int index, int count);
    // The file the picture of `index` is loaded from.
    static QString pictureFile(int index);

    qreal opacity() const;

signals:
    void pressed();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showScaled();

    QPixmap m_source;
    QGraphicsOpacityEffect *m_effect = nullptr;
    QPropertyAnimation *m_fade = nullptr;
};

} // namespace Tavrix
