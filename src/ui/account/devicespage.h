#pragma once

#include <QFrame>

#include "ui/account/accountanswers.h"
#include "ui/placeholderpage.h"

class QLabel;

namespace Tavrix {

class AccountRequest;

// One signed-in device: model, system and app version.
class DeviceWidget : public QFrame
{
    Q_OBJECT
public:
    DeviceWidget(const QString &model, const QString &osVersion, const QString &appVersion, QWidget *parent = nullptr);
};

// The devices signed in to the account, grouped by platform (Apple, Windows, Android,
// Huawei, and Linux after them); loaded from the service every time the page is shown.
class DevicesPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit DevicesPage(QWidget *parent = nullptr);

    AccountRequest *request() const { return m_request; }

signals:
    void clickBack();

public slots:
    void on_btnBack_pressed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct Group
    {
        QWidget *box = nullptr;
        QLayout *rows = nullptr;
    };
    QWidget *makeGroup(const char *name, const QString &title, const QString &logo, Group *group);
    void load();
    void rebuild();

    QWidget *m_loader = nullptr;
    QLabel *m_empty = nullptr;
    Group m_groups[int(AccountAnswers::DevicePlatform::Unlisted)];
    AccountRequest *m_request = nullptr;
};

} // namespace Tavrix
