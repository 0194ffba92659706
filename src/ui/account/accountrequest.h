#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAbstractButton;
template<typename T> class QFutureWatcher;

namespace Tavrix {

class BusyIndicator;

// One account request of a page at a time, off the GUI thread: the pressed button spins while
// the call runs on the pool, and the result with the account API's message comes back on the
// GUI thread. The calls of all pages are serialised, because the shared account API keeps one
// message for the call that ran last.
class AccountRequest : public QObject
{
    Q_OBJECT
public:
    explicit AccountRequest(QObject *parent = nullptr);
    ~AccountRequest() override;

    struct Outcome
    {
        int result = 0;
        QString message;
    };
    using Call = std::function<int()>;
    using Done = std::function<void(const Outcome &)>;

    // Starts `call` with the spinner in `button` (which may be null); `done` runs on the GUI
    // thread after the spinner stopped. False, and nothing starts, while a request runs.
    bool start(QAbstractButton *button, Call call, Done done);
    bool isBusy() const { return m_busy; }

signals:
    // After `done` has run.
    void finished();

private:
    BusyIndicator *m_indicator = nullptr;
    QFutureWatcher<Outcome> *m_watcher = nullptr;
    Done m_done;
    bool m_busy = false;
};

// The pages' answer box: a modal DBox with the text as its title and "Ok", shown without a
// nested event loop and deleted when closed; `onOk` runs when "Ok" is pressed. With
// `overlay` the main window is dimmed behind it.
void showAnswerBox(const QString &text, std::function<void()> onOk = {}, bool overlay = false);

} // namespace Tavrix
