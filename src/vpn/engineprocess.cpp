#include "vpn/engineprocess.h"

#include <QDebug>
#include <QFutureWatcher>
#include <QProcessEnvironment>
#include <QTimer>
#include <QtConcurrent>

namespace Tavrix {

EngineProcess::EngineProcess(const QString &tag, QObject *parent)
    : QObject(parent)
    , m_tag(tag)
{
}

EngineProcess::~EngineProcess()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        // No signal from a dying object: the owner is going away with it.
        m_process->disconnect(this);
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(1000);
        }
    }
}

bool EngineProcess::start(const QString &program, const QStringList &arguments, int startTimeoutMs)
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
    }
    m_finishedReported = false;
    m_error.clear();
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    if (!m_extraEnvironment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &entry : m_extraEnvironment) {
            const int eq = entry.indexOf(QLatin1Char('='));
            if (eq > 0)
                env.insert(entry.left(eq), entry.mid(eq + 1));
        }
        m_process->setProcessEnvironment(env);
    }
    connect(m_process, &QProcess::readyRead, this, &EngineProcess::readLines);
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, &EngineProcess::onFinished);
    m_process->start(program, arguments, QIODevice::ReadOnly);
    if (m_process->waitForStarted(startTimeoutMs))
        return true;
    m_error = m_process->error() == QProcess::Timedout
                  ? QStringLiteral("%1 did not start within %2 ms").arg(program).arg(startTimeoutMs)
                  : m_process->errorString();
    // A failed start is reported by the return value, not by `finished`.
    m_process->disconnect(this);
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
    m_finishedReported = true;
    return false;
}

bool EngineProcess::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 EngineProcess::pid() const
{
    return m_process ? m_process->processId() : 0;
}

void EngineProcess::stop(int graceMs)
{
    if (!isRunning())
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(graceMs)) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

void EngineProcess::terminate(int graceMs)
{
    if (!isRunning())
        return;
    QProcess *process = m_process;
    process->terminate();
    QTimer::singleShot(graceMs, process, [process] {
        if (process->state() != QProcess::NotRunning)
            process->kill();
    });
}

bool EngineProcess::waitForFinished(int timeoutMs)
{
    if (!isRunning())
        return true;
    return m_process->waitForFinished(timeoutMs);
}

void EngineProcess::readLines()
{
    while (m_process && m_process->canReadLine()) {
        const QString line = QString::fromLocal8Bit(m_process->readLine()).trimmed();
        if (m_logOutput)
            qInfo().noquote() << m_tag + QStringLiteral(" > ") + line;
        emit lineRead(line);
    }
}

void EngineProcess::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // A last line without its newline still belongs in the log.
    readLines();
    if (m_process && m_process->bytesAvailable() > 0) {
        const QString rest = QString::fromLocal8Bit(m_process->readAll()).trimmed();
        if (!rest.isEmpty()) {
            if (m_logOutput)
                qInfo().noquote() << m_tag + QStringLiteral(" > ") + rest;
            emit lineRead(rest);
        }
    }
    if (m_finishedReported)
        return;
    m_finishedReported = true;
    emit finished(exitCode, exitStatus);
}

CommandResult runCommand(const QString &program, const QStringList &arguments, int timeoutMs)
{
    CommandResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(qMin(timeoutMs, 30000))) {
        result.output = process.errorString();
        return result;
    }
    result.started = true;
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(1000);
    }
    result.output = QString::fromLocal8Bit(process.readAll());
    if (!result.timedOut && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

QFuture<bool> runOffThread(QObject *context, std::function<void()> work, std::function<void()> done)
{
    auto *watcher = new QFutureWatcher<bool>(context);
    QObject::connect(watcher, &QFutureWatcher<bool>::finished, context, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        if (done)
            done();
    });
    const QFuture<bool> future = QtConcurrent::run([work = std::move(work)] {
        work();
        return true;
    });
    watcher->setFuture(future);
    return future;
}

} // namespace Tavrix
