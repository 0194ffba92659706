#pragma once

#include "ui/servers/quickserverbutton.h"

namespace Tavrix {

// Connects to a random streaming server of the account, or to the current one when the
// account has none.
class StreamingServerButton : public QuickServerButton
{
    Q_OBJECT
public:
    explicit StreamingServerButton(QWidget *parent = nullptr);

signals:
    void StreamingServerButtonClicked();

public slots:
    void onStatusChanged(Tavrix::OpenConnectConnection::Status status) override;

protected:
    void pressed() override;
};

} // namespace Tavrix
