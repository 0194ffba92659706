#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSize>

class QAbstractButton;
class QMovie;

namespace Tavrix {

// The spinner an account page shows in the pressed button while its request runs: on every
// frame the button's text is cleared and its icon becomes the frame scaled to the button's
// height (icon size 29 x 29); stop() restores the text, icon and icon size the button had and
// re-enables it. Starting on another button first restores the previous one.
class BusyIndicator : public QObject
{
    Q_OBJECT

public:
    explicit BusyIndicator(QObject *parent = nullptr);
    ~BusyIndicator() override;

    void start(QAbstractButton *button);
    void stop();
    bool isRunning() const;
    QAbstractButton *button() const { return m_button; }

private:
    void showFrame();

    QMovie *m_movie = nullptr;
    QPointer<QAbstractButton> m_button;
    QString m_text;
    QIcon m_icon;
    QSize m_iconSize;
    bool m_wasEnabled = true;
};

} // namespace Tavrix
