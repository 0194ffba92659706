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

signals:
    void pictureLoaded();

protected:
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void download();

    QSize m_pictureSize;
    QNetworkAccessManager *m_network = nullptr;
    bool m_hasPicture = false;
};

} // namespace Tavrix
