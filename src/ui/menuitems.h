#pragma once

#include <QWidget>

class QLabel;

namespace Tavrix {

// One row of the side menu: an icon, a text and an arrow. A mouse press emits clicked().
class MenuItem : public QWidget
{
    Q_OBJECT
public:
    MenuItem(const QString &iconPath, const QString &text, QWidget *parent = nullptr);

    QString text() const;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_text;
};

// The menu's rows, one class per entry so that each keeps its own identity.
class SupportButton : public MenuItem
{
    Q_OBJECT
public:
    explicit SupportButton(QWidget *parent = nullptr);
};

class SettingButton : public MenuItem
{
    Q_OBJECT
public:
    explicit SettingButton(QWidget *parent = nullptr);
};

class PurchaseFoFriends : public MenuItem
{
    Q_OBJECT
public:
    explicit PurchaseFoFriends(QWidget *parent = nullptr);
};

class Devices : public MenuItem
{
    Q_OBJECT
public:
    explicit Devices(QWidget *parent = nullptr);
};

class AboutUs : public MenuItem
{
    Q_OBJECT
public:
    explicit AboutUs(QWidget *parent = nullptr);
};

class TavrixMoreButton : public MenuItem
{
    Q_OBJECT
public:
    explicit TavrixMoreButton(QWidget *parent = nullptr);
};

class Refer : public MenuItem
{
    Q_OBJECT
public:
    explicit Refer(QWidget *parent = nullptr);
};

class PrivateBrowser : public MenuItem
{
    Q_OBJECT
public:
    explicit PrivateBrowser(QWidget *parent = nullptr);
};

class RedeemVoucherButton : public MenuItem
{
    Q_OBJECT
public:
    explicit RedeemVoucherButton(QWidget *parent = nullptr);
};

class RateUsButton : public MenuItem
{
    Q_OBJECT
public:
    explicit RateUsButton(QWidget *parent = nullptr);
};

class LogoutButton : public MenuItem
{
    Q_OBJECT
public:
    explicit LogoutButton(QWidget *parent = nullptr);
};

} // namespace Tavrix
