#pragma once

#include <QFuture>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace Tavrix {

// One external engine program, as every runner starts it: an argument list (never a joined
// shell string), stdout and stderr merged and written to the log line by line as
// "<tag> > line", a bounded wait for the start, one `finished` however the program ends, and
// a bounded stop. Lives on the thread that created it.
class EngineProcess : public QObject
{
    Q_OBJECT
public:
    // `tag` prefixes every logged output line, for example "OpenVPN".
    explicit EngineProcess(const QString &tag, QObject *parent = nullptr);
    ~EngineProcess() override;

    // Starts `program` with `arguments` and waits at most startTimeoutMs for it to run. A time-out
    // counts as a failed start (the program is killed). On failure errorString() says why.
    bool start(const QString &program, const QStringList &arguments, int startTimeoutMs = 30000);

    bool isRunning() const;
    qint64 pid() const;
    QString errorString() const { return m_error; }
    // Extra environment for the next start (KEY=value entries added to the inherited one).
    void setExtraEnvironment(const QStringList &entries) { m_extraEnvironment = entries; }
    // Whether output lines are written to the log (they always reach lineRead).
    void setLogOutput(bool enabled) { m_logOutput = enabled; }

    // SIGTERM (or the OS's polite close), then a kill after graceMs; waits at most that long
    // plus a moment. `finished` follows once, from the event loop.
    void stop(int graceMs = 5000);
    // The same stop without blocking: SIGTERM now, a kill after graceMs if it is still running.
    // For the GUI thread, where a program that takes its time to say goodbye must not freeze it.
    void terminate(int graceMs = 5000);

    // Waits at most timeoutMs for the program to end; true when it has.
    bool waitForFinished(int timeoutMs);

signals:
    // One trimmed output line (stdout and stderr merged).
    void lineRead(const QString &line);
    // The program has ended, or could not be started after a successful start() call. Once.
    void finished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    void readLines();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);

    QString m_tag;
    QProcess *m_process = nullptr;
    QString m_error;
    QStringList m_extraEnvironment;
    bool m_logOutput = true;
    bool m_finishedReported = false;
};

// Result of a short command run to its end.
struct CommandResult
{
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;
    QString output; // stdout and stderr merged
};

// Runs `program` with `arguments` to its end, waiting at most timeoutMs (the program is killed
// past that), with the client's network privilege. Blocks the calling thread: call it from a
// pool thread where the wait may be long.
CommandResult runCommand(const QString &program, const QStringList &arguments, int timeoutMs = 30000);

// Runs `work` on the thread pool, then `done` on the thread of `context` (not at all once
// `context` is gone). The future (always true) lets an owner wait for the work at shutdown,
// beside the other engine steps. For engine stops
// that may take seconds and must not hold up the window.
QFuture<bool> runOffThread(QObject *context, std::function<void()> work, std::function<void()> done);

} // namespace Tavrix
