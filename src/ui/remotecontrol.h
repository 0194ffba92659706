#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <functional>

#include "common/ipbundle.h"

namespace Tavrix {

class MainWindow;

// The window's side of the command line: runs a command through the same pages and code as
// the user's clicks (the connect screen's connect, the server list's choice, the settings
// page's kill switch), so the window follows, and answers with a JSON object whose "code"
// is the command line's exit code. An answer may come later (a connect waits for the tunnel).
class RemoteControl : public QObject
{
    Q_OBJECT
public:
    using Reply = std::function<void(const QJsonObject &answer)>;

    explicit RemoteControl(MainWindow *window);

    // request: the JSON text the command line sent. reply is called exactly once.
    void handle(const QByteArray &request, const Reply &reply);

private:
    void run(const QJsonObject &request, const Reply &reply);
    // Runs then once no sign-in is in progress (at most a while).
    void whenSettled(const std::function<void()> &then, int attemptsLeft);
    void status(const Reply &reply);
    void servers(const QString &search, const Reply &reply);
    void connectTo(const QString &serverText, const Reply &reply);
    void disconnect(const Reply &reply);
    void killSwitch(bool on, const Reply &reply);
    // Answers after the event loop has passed the status on (the controller takes it queued).
    void replyWithStatus(int code, const QString &message, const Reply &reply);

    QJsonObject statusObject() const;
    QJsonObject bundleObject(const IPBundle &bundle) const;
    QVector<IPBundlePtr> offeredBundles(const QString &search) const;

    QPointer<MainWindow> m_window;
};

} // namespace Tavrix
