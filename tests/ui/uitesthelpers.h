#pragma once

// Helpers of the window tests: answering the modal dialogs the pages open and catching the
// addresses they hand to the browser.

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
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

// Answers the next visible DBoxes one after the other, pressing the given buttons ("btnSubmit"
// or "btnCancel") in order; answer i describes the i-th dialog. Polls from a timer, so it
// also works while a dialog runs its own nested event loop. Set it up before the first
// dialog can open.
inline QVector<std::shared_ptr<DBoxAnswer>> answerDBoxes(const QStringList &buttons, int timeoutMs = 20000)
{
    QVector<std::shared_ptr<DBoxAnswer>> answers;
    for (int i = 0; i < buttons.size(); ++i)
        answers.append(std::make_shared<DBoxAnswer>());
    auto next = std::make_shared<int>(0);
    auto *timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (clock->elapsed() > timeoutMs || *next >= buttons.size()) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        Tavrix::DBox *box = visibleDBox();
        if (!box)
            return;
        auto *button = box->findChild<QPushButton *>(buttons.at(*next));
        if (!button || button->isHidden())
            return;
        DBoxAnswer &answer = *answers.at((*next)++);
        answer.title = labelText(box, "lblTitle");
        answer.text = labelText(box, "lblText");
        answer.submitText = buttonText(box, "btnSubmit");
        answer.cancelText = buttonText(box, "btnCancel");
        answer.answered = true;
        QTest::mouseClick(button, Qt::LeftButton);
    });
    timer->start(20);
    return answers;
}

// The same for one dialog.
inline std::shared_ptr<DBoxAnswer> answerNextDBox(const char *buttonName, int timeoutMs = 20000)
{
    return answerDBoxes({QLatin1String(buttonName)}, timeoutMs).first();
}

// Records the title of every DBox that becomes visible, also while nested event loops run
// (a configuration fetch, a modal dialog).
class DBoxWatcher : public QObject
{
public:
    DBoxWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            Tavrix::DBox *box = visibleDBox();
            if (box && !m_seen.contains(box)) {
                m_seen.append(box);
                titles.append(labelText(box, "lblTitle"));
            }
        });
        m_timer.start(10);
    }
    QStringList titles;

private:
    QTimer m_timer;
    QList<QPointer<Tavrix::DBox>> m_seen;
};

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
