#pragma once

#include <QObject>
#include <QString>

#include "helper/childprocess.h"
#include "helper/runtimefolder.h"

namespace Tavrix {

// One tunnel the helper runs for one caller: its engine program, the files it wrote for it in
// the runtime folder, and its state. Each engine is a subclass in a file of its own; the
// kill switch, split tunnelling and a tun device for OpenConnect take the same shape.
class Tunnel : public QObject
{
    Q_OBJECT
public:
    Tunnel(const QString &id, const QString &tag, const RuntimeFolder &folder, QObject *parent = nullptr);
    ~Tunnel() override;

    QString id() const { return m_id; }
    bool isUp() const { return m_up; }
    bool hasEnded() const { return m_ended; }
    qint64 pid() const { return m_child ? m_child->pid() : 0; }
    // Takes the tunnel down; `ended` follows once the engine has gone.
    virtual void stop();

signals:
    // The tunnel is usable (the request that started it may now be answered).
    void ready();
    // Once, whether it failed before ready or went down later; its files are gone by then.
    void ended(const QString &reason);
    // One line of the engine's output (for its owner's log).
    void output(const QString &line);

protected:
    // Starts the engine file `engine` (relative to the helper's folder) with `arguments`.
    bool startEngine(const QString &engine, const QStringList &arguments, const QStringList &extraEnvironment,
                     QString *error);
    // The same for a program already found by its absolute path (ChildProcess::systemToolPath).
    bool startProgram(const QString &program, const QStringList &arguments, const QStringList &extraEnvironment,
                      QString *error);
    void markUp();
    // Gives up on the tunnel: the engine is stopped and `ended` carries this reason.
    void fail(const QString &reason);
    void finish(const QString &reason);
    // A file of this tunnel in the runtime folder, removed when the tunnel ends.
    bool writeFile(const QString &suffix, const QByteArray &content, QString *error);
    QString filePath(const QString &suffix) const;
    void removeFile(const QString &suffix);
    virtual void cleanUp() {}

    const RuntimeFolder &m_folder;
    ChildProcess *m_child = nullptr;

private:
    QString m_id;
    QString m_tag;
    QStringList m_files;
    QString m_failReason;
    bool m_up = false;
    bool m_ended = false;
};

} // namespace Tavrix
