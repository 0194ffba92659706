#pragma once

#include <QLabel>

class QNetworkAccessManager;

namespace Tavrix {

// The features box under the offers: the service's picture (downloaded on every show) that
// opens the features page, signed in, when pressed.
class AccoutBottomButton : public QLabel
{
    Q_OBJECT
public:
    explicit AccoutBottomButton(const QSize &pictureSize, QWidget *parent = nullptr);

    bool hasPicture() const { return m_hasPicture; }
    // Asks for the whole picture but takes any width: the picture shrinks to a narrow panel
    // rather than widen the page past its edge.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void pictureLoaded();

protected:
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void download();
    // The picture at its full size, or smaller to fit the label's width.
    void fitPicture();

    QSize m_pictureSize;
    QPixmap m_picture;
    QNetworkAccessManager *m_network = nullptr;
    bool m_hasPicture = false;
};

} // namespace Tavrix
