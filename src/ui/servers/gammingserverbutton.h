#pragma once

#include "ui/servers/quickserverbutton.h"

namespace Tavrix {

// Connects to a random gaming server of the account.
class GammingServerButton : public QuickServerButton
{
    Q_OBJECT
public:
    explicit GammingServerButton(QWidget *parent = nullptr);

signals:
    void GammingServerClicked();

public slots:
    void onStatusChanged(Tavrix::OpenConnectConnection::Status status) override;

protected:
    void pressed() override;
};

} // namespace Tavrix
