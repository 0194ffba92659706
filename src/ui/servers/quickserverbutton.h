#pragma once

#include <QWidget>

#include <functional>

#include "common/ipbundle.h"
#include "vpn/openconnectconnection.h"

class QBoxLayout;
class QLabel;
class QVBoxLayout;

namespace Tavrix {

// The common face of the quick choices on the connect page: a rounded tile with a picture,
// a title and a subtitle, coloured by the connection status. Reacts to a mouse press.
class QuickServerButton : public QWidget
{
    Q_OBJECT
public:
    explicit QuickServerButton(const QString &subtitleName, QWidget *parent = nullptr);

    bool isConnectedLook() const { return m_connected; }
    // How the tile currently lays itself out (it follows its width): the picture beside the
    // texts, or above them in a narrow tile.
    bool isPictureAbove() const { return m_pictureAbove; }
    int titlePixelSize() const { return m_titlePx; }

public slots:
    virtual void onStatusChanged(Tavrix::OpenConnectConnection::Status status);

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

    // What a press does, after the tile's own bookkeeping.
    virtual void pressed() = 0;

    // The account's bundles that pass the test, in account order.
    static QVector<IPBundlePtr> candidates(const std::function<bool(const IPBundle &)> &test);
    // Stores the bundle as the active server.
    static void makeActive(const IPBundlePtr &bundle);

    QLabel *m_lblLogo = nullptr;
    QLabel *m_lblTitle = nullptr;
    QLabel *m_lblSubtitle = nullptr;

private:
    void applyTextColours();
    // Picks the arrangement and the largest type at which both texts fit the tile's width.
    void fitTexts();
    void applyFit(bool above, bool wrapped, int titlePx, int subtitlePx, int titleLines, int subtitleLines);
    // This tile and its siblings in the same row.
    QList<QuickServerButton *> rowOfTiles();

    bool m_connected = false;
    bool m_pictureAbove = false;
    int m_titlePx = 18;
    int m_subtitlePx = 14;
    int m_titleLines = 1;
    int m_subtitleLines = 1;
    QBoxLayout *m_layout = nullptr;
    QVBoxLayout *m_texts = nullptr;
};

} // namespace Tavrix
