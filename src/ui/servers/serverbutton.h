#pragma once

#include <QWidget>

#include "vpn/openconnectconnection.h"

class QLabel;

namespace Tavrix {

// "Selected Location": the active server's flag, country and city. A press asks for the
// server list.
class ServerButton : public QWidget
{
    Q_OBJECT
public:
    explicit ServerButton(QWidget *parent = nullptr);

signals:
    void clicked();

public slots:
    void onStatusChanged(Tavrix::OpenConnectConnection::Status status);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void applyColours();

    OpenConnectConnection::Status m_status = OpenConnectConnection::IDLE;
    QLabel *m_lblFlag = nullptr;
    QLabel *m_lblChangeLocation = nullptr;
    QLabel *m_lblCountry = nullptr;
    QLabel *m_lblCity = nullptr;
    QLabel *m_lblArrow = nullptr;
};

} // namespace Tavrix
