#include "helper/tunnel.h"

#include <QDebug>
#include <QTimer>

namespace Tavrix {

namespace {
// Past this a stopped engine is killed; its end follows at once.
constexpr int stopGraceMs = 5000;
} // namespace

Tunnel::Tunnel(const QString &id, const QString &tag, const RuntimeFolder &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_id(id)
    , m_tag(tag)
{
}

Tunnel::~Tunnel()
{
    for (const QString &suffix : qAsConst(m_files))
        m_folder.remove(m_id + suffix);
}

bool Tunnel::startEngine(const QString &engine, const QStringList &arguments, const QStringList &extraEnvironment,
                         QString *error)
{
    const QString program = ChildProcess::enginePath(engine, error);
    return !program.isEmpty() && startProgram(program, arguments, extraEnvironment, error);
}

bool Tunnel::startProgram(const QString &program, const QStringList &arguments, const QStringList &extraEnvironment,
                          QString *error)
{
    m_child = new ChildProcess(m_tag + QLatin1Char(' ') + m_id.left(8), this);
    connect(m_child, &ChildProcess::finished, this, [this](int exitCode) {
        const QString last = m_child->lastLines().section(QLatin1Char('\n'), -1);
        if (!m_failReason.isEmpty())
            finish(m_failReason);
        else
            finish(m_up ? QStringLiteral("the engine ended (exit code %1)").arg(exitCode)
                        : QStringLiteral("the engine ended before the tunnel came up: %1").arg(last));
    });
    connect(m_child, &ChildProcess::lineRead, this, &Tunnel::output);
    return m_child->start(program, arguments, extraEnvironment, error);
}

void Tunnel::stop()
{
    if (m_child && m_child->isRunning())
        m_child->stop(stopGraceMs);
    else
        QTimer::singleShot(0, this, [this] { finish(QStringLiteral("stopped")); });
}

void Tunnel::markUp()
{
    if (m_up || m_ended)
        return;
    m_up = true;
    emit ready();
}

void Tunnel::fail(const QString &reason)
{
    if (m_ended || !m_failReason.isEmpty())
        return;
    m_failReason = reason;
    // The engine takes down what it set up; its end finishes the tunnel.
    if (m_child && m_child->isRunning())
        m_child->stop(stopGraceMs);
    else
        finish(reason);
}

void Tunnel::finish(const QString &reason)
{
    if (m_ended)
        return;
    m_ended = true;
    cleanUp();
    for (const QString &suffix : qAsConst(m_files))
        m_folder.remove(m_id + suffix);
    m_files.clear();
    qInfo().noquote() << m_tag << m_id.left(8) << QStringLiteral("ended:") << reason;
    emit ended(reason);
}

bool Tunnel::writeFile(const QString &suffix, const QByteArray &content, QString *error)
{
    m_files.append(suffix);
    return m_folder.writePrivate(m_id + suffix, content, error);
}

QString Tunnel::filePath(const QString &suffix) const
{
    return m_folder.filePath(m_id + suffix);
}

void Tunnel::removeFile(const QString &suffix)
{
    m_folder.remove(m_id + suffix);
    m_files.removeAll(suffix);
}

} // namespace Tavrix
