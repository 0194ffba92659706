#pragma once

#include <QWidget>

#include "vpn/openconnectconnection.h"

class QRadioButton;
class QScrollArea;

namespace Tavrix {

class SettingExpander;

// The settings panel of the hub: the protocol filter of the server list, quick access on the
// connect screen, auto connect, and the entries of the protection features. Every choice is
// stored at once; the choices are read again each time the page is shown.
class SettingPage : public QWidget
{
    Q_OBJECT
public:
    explicit SettingPage(QWidget *parent = nullptr);

signals:
    void clickBack();
    void clickedGeneralButton();
    void clickNetworkProtecton();
    void autoConnectClicked();
    void DarkWebButtonClicked();
    void switchConnectionPage();
    void splitTunnelButtonClicked();

public slots:
    void onStatusChanged(OpenConnectConnection::Status status);
    void clickProtocolButton();
    void clickGeneralButton();
    void on_radioButtonAll_pressed();
    void on_radioButtonProtocol1_pressed();
    void on_radioButtonProtocol2_pressed();
    void on_quickAccessradioButton_pressed();
    void on_AlwaysSelectServerradioButton_pressed();
    void setAutoConnect();
    void on_btnBack_pressed();
    void on_radioButtonProtocol3_pressed();
    void on_radioButtonProtocol4_pressed();
    void on_radioButtonProtocol5_pressed();
    void on_radioButtonProtocol6_pressed();
    void on_radioButtonProtocol7_pressed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildForm();
    QWidget *makeProtocolTools(QWidget *parent);
    QWidget *makeGeneralTools(QWidget *parent);
    // Asks the user to disconnect first when a tunnel is up; true when it was up.
    bool promptDisconnectIfConnected();
    void chooseProtocol(int protocol);
    void chooseGeneral(bool quickAccess);
    // Shows the stored protocol and quick-access choices.
    void showStoredChoices();

    QScrollArea *m_scrollArea = nullptr;
    QWidget *m_protocolTools = nullptr;
    QWidget *m_generalTools = nullptr;
    QList<QRadioButton *> m_protocolButtons; // index = stored `Protocol` value
    QRadioButton *m_quickAccess = nullptr;
    QRadioButton *m_alwaysSelect = nullptr;
};

} // namespace Tavrix
