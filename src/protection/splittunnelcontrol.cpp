#include "protection/splittunnelcontrol.h"

#include <QDebug>
#include <QProcess>
#include <QThreadPool>
#include <QtConcurrent>

#include <atomic>

#include "common/config.h"
#include "platform/engineprocesses.h"
#include "platform/privilegedhelper.h"
#include "platform/splitter.h"

namespace Tavrix {
namespace SplitTunnelControl {

namespace {

// One thread, so that selections are applied in the order they were made.
QThreadPool &worker()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        return p;
    }();
    return *pool;
}

constexpr int kCommandWaitMs = 30000;

std::function<void(const QStringList &)> &applyObserver()
{
    static std::function<void(const QStringList &)> observer;
    return observer;
}

// Set once this run has handed a selection to the system, so that quitting a client that
// never used split tunnelling runs nothing.
std::atomic<bool> &used()
{
    static std::atomic<bool> flag(false);
    return flag;
}
constexpr char kService[] = "splitter";

} // namespace

QStringList currentSelection()
{
    return Config::isSplitTunnelEnabled() ? Config::clickedProcesses() : QStringList();
}

void setApplyObserver(std::function<void(const QStringList &)> observer)
{
    applyObserver() = std::move(observer);
}

void apply(const QStringList &baseNames)
{
    qDebug() << "process list::::" << baseNames;
    if (applyObserver()) {
        applyObserver()(baseNames);
        return;
    }
    used() = true;
    if (baseNames.isEmpty())
        qDebug() << "No allowed processes to execute.";

    // An ordinary user's way: the helper moves this user's own processes of these names, and
    // drops the choice when this client leaves.
    if (PrivilegedHelper::isAvailable()) {
        QString error;
        if (PrivilegedHelper::setBypassPrograms(baseNames, &error))
            qDebug() << "Split tunnel applied through the TavrixVPN helper.";
        else
            qDebug().noquote() << "Error:" << error;
        return;
    }

    const bool running = Splitter::queryService(kCommandWaitMs).contains(QLatin1String("RUNNING"));
    if (running) {
        qDebug().noquote() << QLatin1String(kService) << "service is already running.";
    } else {
        qDebug().noquote() << QLatin1String(kService) << "service is not running. Starting it now...";
        QString output;
        QString error;
        Splitter::startService(&output, &error, kCommandWaitMs);
        if (!error.trimmed().isEmpty())
            qDebug().noquote() << "Error:" << error.trimmed();
        else
            qDebug().noquote() << "Output:" << output.trimmed();
    }

    const QString program = Splitter::controlProgram();
    const QStringList arguments = Splitter::controlArguments(baseNames);
    qDebug().noquote() << "Preparing to execute command in detached mode:"
                       << program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));

    if (!EngineProcesses::describe(Splitter::controlImageName()).isEmpty()) {
        qDebug() << "Existing instance of splitter-control.exe found. Terminating...";
        EngineProcesses::stop(Splitter::controlImageName());
    }
    if (QProcess::startDetached(program, arguments))
        qDebug() << "splitter-control.exe started successfully in detached mode.";
    else
        qDebug() << "Failed to start splitter-control.exe. Ensure the command is correct and accessible.";

    // Nothing chosen: nothing may stay outside the tunnel, and no bypass rule is left behind.
    if (baseNames.isEmpty()) {
        EngineProcesses::stop(Splitter::controlImageName());
        Splitter::stopService(kCommandWaitMs);
    }
}

void applyAsync(const QStringList &baseNames)
{
    QtConcurrent::run(&worker(), [baseNames] { apply(baseNames); });
}

bool waitForIdle(int timeoutMs)
{
    return worker().waitForDone(timeoutMs);
}

namespace {
void stopEverything()
{
    // With the helper nothing is looked for by name: the choice is this client's own.
    if (PrivilegedHelper::isAvailable()) {
        if (used().exchange(false))
            PrivilegedHelper::setBypassPrograms({});
        return;
    }
    if (!used() && EngineProcesses::find(Splitter::controlImageName()).isEmpty())
        return;
    used() = false;
    EngineProcesses::stop(Splitter::controlImageName(), 2000);
    Splitter::stopService(5000);
}
} // namespace

void shutdown()
{
    worker().waitForDone(10000);
    stopEverything();
}

void shutdownAsync()
{
    QtConcurrent::run(&worker(), stopEverything);
}

QString displayPath(const QString &path)
{
    return path.size() >= 60 ? path.left(60) + QStringLiteral("...") : path;
}

QVector<Splitter::Application> listableApplications(const QStringList &paths)
{
    return Splitter::applications(paths);
}

} // namespace SplitTunnelControl
} // namespace Tavrix
