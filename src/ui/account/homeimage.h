#pragma once

#include <QJsonArray>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QHBoxLayout;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;

namespace Tavrix {

class BannerImage;

// The banner slider of the connect page: the account's promotional pictures, one at a time,
// a new one every 10 s, a dot per picture to jump to it. A press opens the banner's address
// with a sign-in token. Pictures are downloaded into the banner folder on every show and
// shown from there, so a picture appears once its file is complete.
class HomeImage : public QWidget
{
    Q_OBJECT
public:
    explicit HomeImage(QWidget *parent = nullptr);
    ~HomeImage() override;

    // The designed strip, 550 x 100; a page may give it less.
    QSize sizeHint() const override;

    int position() const { return m_position; }
    int bannerCount() const { return m_banners.size(); }
    // Downloads still running.
    int pendingDownloads() const { return m_pending; }

signals:
    void changeImage();
    // Every picture of the current show has been stored (or failed).
    void downloadsFinished();

public slots:
    void btnImageClicked();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void rebuild();
    void storePicture(QNetworkReply *reply, int index, const QString &address);
    void nextSlide();
    void showDot(int index);

    QJsonArray m_banners;
    QStringList m_clickUrls;
    int m_position = 0;
    int m_pending = 0;
    QTimer m_slideTimer;
    QNetworkAccessManager *m_network = nullptr;
    BannerImage *m_picture = nullptr;
    BannerImage *m_bannerWidget = nullptr;
    QWidget *m_bottomButton = nullptr;
    QHBoxLayout *m_layout = nullptr;
    QList<QPushButton *> m_dots;
};

} // namespace Tavrix
