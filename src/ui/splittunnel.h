#pragma once

#include <QWidget>

class QLabel;

namespace Tavrix {

// The settings page's split-tunnel row: title, description and the on/off switch.
class SplitTunnel : public QWidget
{
    Q_OBJECT
public:
    explicit SplitTunnel(QWidget *parent = nullptr);

signals:
    void clicked();
    void splitTunnelOn();
    void splitTunnelOff();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void showSwitch(bool on);

    QLabel *m_switch;
};

} // namespace Tavrix
