#pragma once

#include <QWidget>

#include <functional>

#include "common/ipbundle.h"
#include "vpn/openconnectconnection.h"

class QLabel;

namespace Tavrix {

// The common face of the quick choices on the connect page: a rounded tile with a picture,
// a title and a subtitle, coloured by the connection status. Reacts to a mouse press.
class QuickServerButton : public QWidget
{
    Q_OBJECT
public:
    explicit QuickServerButton(const QString &subtitleName, QWidget *parent = nullptr);

    bool isConnectedLook() const { return m_connected; }

public slots:
    virtual void onStatusChanged(Tavrix::OpenConnectConnection::Status status);

protected:
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

    bool m_connected = false;
};

} // namespace Tavrix
