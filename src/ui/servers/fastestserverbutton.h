#pragma once

#include "ui/servers/quickserverbutton.h"

namespace Tavrix {

// Connects to the account's high-speed servers in turn; also makes the automatic connect
// after start when the user asked for it.
class FastestServerButton : public QuickServerButton
{
    Q_OBJECT
public:
    explicit FastestServerButton(QWidget *parent = nullptr);

    int pressCount() const { return m_counter; }

    // The automatic connect: once per sign-in, when the page first appears after it, if the
    // user enabled it and no tunnel is up or being set up. Not on every return to the page:
    // that would undo a manual disconnect.
    void autoConnectOnce();
    // A new sign-in: the automatic connect is due again.
    void rearmAutoConnect() { m_autoConnectDone = false; }

signals:
    void fastestServerClicked();
    void updateData();
    void selectData();

public slots:
    void selectRandomBundil();

protected:
    void showEvent(QShowEvent *event) override;
    void pressed() override;

private:
    int m_counter = 0;
    bool m_autoConnectDone = false;
};

} // namespace Tavrix
