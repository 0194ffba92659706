#pragma once

// Helpers of the window tests: answering the modal dialogs the pages open and catching the
// addresses they hand to the browser.

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>

#include "ui/dbox.h"

namespace TavrixTest {

struct DBoxAnswer
{
    bool answered = false;
    QString title;
    QString text;
    QString submitText;
    QString cancelText;
};

inline Tavrix::DBox *visibleDBox()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<Tavrix::DBox *>(widget);
        if (box && box->isVisible())
            return box;
    }
    return nullptr;
}

inline QString labelText(QWidget *box, const char *name)
{
    auto *label = box->findChild<QLabel *>(QLatin1String(name));
    return label && !label->isHidden() ? label->text() : QString();
}

inline QString buttonText(QWidget *box, const char *name)
{
    auto *button = box->findChild<QPushButton *>(QLatin1String(name));
    return button && !button->isHidden() ? button->text() : QString();
}

// Presses `buttonName` ("btnSubmit" or "btnCancel") of the next visible DBox. Polls from a
// timer, so it also works while the dialog runs its own nested event loop.
inline std::shared_ptr<DBoxAnswer> answerNextDBox(const char *buttonName, int timeoutMs = 10000)
{
    auto answer = std::make_shared<DBoxAnswer>();
    auto *timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    const QString name = QLatin1String(buttonName);
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (clock->elapsed() > timeoutMs) {
            timer->deleteLater();
            return;
        }
        Tavrix::DBox *box = visibleDBox();
        if (!box)
            return;
        auto *button = box->findChild<QPushButton *>(name);
        if (!button || button->isHidden())
            return;
        answer->title = labelText(box, "lblTitle");
        answer->text = labelText(box, "lblText");
        answer->submitText = buttonText(box, "btnSubmit");
        answer->cancelText = buttonText(box, "btnCancel");
        timer->stop();
        timer->deleteLater();
        answer->answered = true;
        QTest::mouseClick(button, Qt::LeftButton);
    });
    timer->start(20);
    return answer;
}

// Receives what the window would open in the browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
    }
    ~UrlCatcher() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

} // namespace TavrixTest
