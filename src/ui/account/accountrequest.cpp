#include "ui/account/accountrequest.h"

#include <QAbstractButton>
#include <QFutureWatcher>
#include <QMutex>
#include <QtConcurrent>

#include "api/apirequest.h"
#include "ui/busyindicator.h"
#include "ui/dbox.h"
#include "ui/overlay.h"

namespace Tavrix {

namespace {
QMutex &callLock()
{
    static QMutex lock;
    return lock;
}
} // namespace

AccountRequest::AccountRequest(QObject *parent)
    : QObject(parent)
    , m_indicator(new BusyIndicator(this))
    , m_watcher(new QFutureWatcher<Outcome>(this))
{
    connect(m_watcher, &QFutureWatcher<Outcome>::finished, this, [this] {
        const Outcome outcome = m_watcher->result();
        m_indicator->stop();
        m_busy = false;
        const Done done = std::move(m_done);
        m_done = nullptr;
        if (done)
            done(outcome);
        emit finished();
    });
}

AccountRequest::~AccountRequest()
{
    // The page goes away with the window; a call still running finishes on the pool without
    // anybody to tell.
    m_watcher->disconnect(this);
}

bool AccountRequest::start(QAbstractButton *button, Call call, Done done)
{
    if (m_busy)
        return false;
    m_busy = true;
    m_done = std::move(done);
    if (button)
        m_indicator->start(button);
    // Created before the pool thread needs it, so that it belongs to the GUI thread.
    const std::shared_ptr<ApiRequest> api = ApiRequest::instance();
    m_watcher->setFuture(QtConcurrent::run([call, api] {
        QMutexLocker locker(&callLock());
        Outcome outcome;
        outcome.result = call();
        outcome.message = api->errorMessage();
        return outcome;
    }));
    return true;
}

void showAnswerBox(const QString &text, std::function<void()> onOk, bool overlay)
{
    auto *box = new DBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->setTitle(text);
    box->setSubmitText(QStringLiteral("Ok"));
    if (onOk)
        QObject::connect(box, &DBox::submit, box, [onOk] { onOk(); });
    if (overlay)
        showWithOverlay(box);
    else
        box->show();
}

} // namespace Tavrix
