#pragma once

#include <QWidget>

class QLabel;

namespace Tavrix {

// One row of the settings page: an icon, a bold title over a grey subtitle, and on the right
// an arrow (an entry or an expander) or a switch picture. A mouse press emits clicked().
class SettingItem : public QWidget
{
    Q_OBJECT
public:
    enum Trailing { Arrow, Switch };

    SettingItem(const QString &iconPath, const QString &title, const QString &subtitle, Trailing trailing,
                QWidget *parent = nullptr);

    QString title() const;
    // The switch picture: ":/assets/1.png" when on, ":/assets/0.png" when off.
    void showSwitch(bool on);
    bool switchShownOn() const { return m_switchOn; }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    // The arrow turned down (open) or pointing right (closed).
    void showArrowOpen(bool open);

private:
    QLabel *m_title;
    QLabel *m_trailing;
    bool m_switchOn = false;
};

// A row of the settings page's look around a widget of another feature (the split-tunnel
// switch): the icon on the left, the widget beside it.
class SettingCard : public QWidget
{
    Q_OBJECT
public:
    SettingCard(const QString &iconPath, QWidget *content, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// An item that opens and closes a tool area below it; the arrow follows its own open flag.
class SettingExpander : public SettingItem
{
    Q_OBJECT
public:
    SettingExpander(const QString &iconPath, const QString &title, const QString &subtitle, QWidget *parent);
    bool isOpen() const { return m_open; }

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    bool m_open = false;
};

class SettingProtocolButton : public SettingExpander
{
    Q_OBJECT
public:
    explicit SettingProtocolButton(QWidget *parent = nullptr);
};

class NetworkProtection : public SettingItem
{
    Q_OBJECT
public:
    explicit NetworkProtection(QWidget *parent = nullptr);
};

// The kill switch: shows the stored setting each time it is shown; a press flips it (the
// stored setting, the status file and, with no tunnel up, the firewall).
class SettingKillSwitch : public SettingItem
{
    Q_OBJECT
public:
    explicit SettingKillSwitch(QWidget *parent = nullptr);

    // What a press does; returns the new setting.
    bool toggle();

protected:
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
};

// Start with the system: the session's start-at-login entry (the client starts minimized);
// the switch shows whether the entry is there each time it is shown.
class SettingStartWithSystem : public SettingItem
{
    Q_OBJECT
public:
    explicit SettingStartWithSystem(QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
};

class SettingGeneralButton : public SettingExpander
{
    Q_OBJECT
public:
    explicit SettingGeneralButton(QWidget *parent = nullptr);
};

// Auto connect: shows the stored setting each time it is shown; a press flips and saves it,
// then emits clicked() for the page to act on.
class SettingAutoConnectButton : public SettingItem
{
    Q_OBJECT
public:
    explicit SettingAutoConnectButton(QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
};

class AppCrashReportButton : public SettingItem
{
    Q_OBJECT
public:
    explicit AppCrashReportButton(QWidget *parent = nullptr);
};

// Its switch only changes its own picture: nothing is stored behind it.
class NotificationButton : public SettingItem
{
    Q_OBJECT
public:
    explicit NotificationButton(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

class DarkWebMonitor : public SettingItem
{
    Q_OBJECT
public:
    explicit DarkWebMonitor(QWidget *parent = nullptr);
};

} // namespace Tavrix
