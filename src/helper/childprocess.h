#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace Tavrix {

// One engine program the helper runs as root: an engine file beside the helper (never a path
// from a caller), started by its absolute path with a fixed environment, known by the pid it
// was started with. Output lines go to the helper's log with the tunnel's tag and to lineRead.
class ChildProcess : public QObject
{
    Q_OBJECT
public:
    ChildProcess(const QString &tag, QObject *parent = nullptr);
    ~ChildProcess() override;

    // The engine file `relativePath` beside the helper executable. Empty (and *error set) when
    // it is missing or not safe to run as root: it must be a regular file owned by root that
    // nobody else may write, in a folder nobody else may write.
    static QString enginePath(const QString &relativePath, QString *error);
    // A system tool (ip, nft, wg, wireguard-go) in the system folders only, never from PATH,
    // and only when it is safe to run as root. Empty (and *error set) when there is none.
    static QString systemToolPath(const QString &tool, QString *error);
    // Exactly what every child gets: PATH=/usr/sbin:/usr/bin:/sbin:/bin and LANG=C.UTF-8.
    static QStringList fixedEnvironment();

    // Starts the program with `arguments`; `extraEnvironment` (KEY=value) is added to the
    // fixed one only where an engine needs it.
    bool start(const QString &program, const QStringList &arguments, const QStringList &extraEnvironment,
               QString *error);
    qint64 pid() const { return m_pid; }
    bool isRunning() const;
    // SIGTERM, SIGKILL after graceMs; finished follows from the event loop.
    void stop(int graceMs = 5000);
    // The last few output lines, for a failure's reason.
    QString lastLines() const { return m_lastLines.join(QLatin1Char('\n')); }

signals:
    void lineRead(const QString &line);
    void finished(int exitCode);

private:
    void readLines();

    QString m_tag;
    QProcess *m_process = nullptr;
    qint64 m_pid = 0;
    QStringList m_lastLines;
};

} // namespace Tavrix
