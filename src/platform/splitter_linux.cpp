#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

#include "platform/engineprocesses.h"
#include "platform/privileges.h"
#include "platform/splitter.h"

namespace Tavrix {
namespace Splitter {

namespace {

// The service stand-in ships beside the client; it changes the firewall and the routing, so
// it gets the network privilege.
class ServiceProcess : public QProcess
{
protected:
    void setupChildProcess() override { Privileges::prepareEngineChild(); }
};

bool runService(const QString &command, int timeoutMs, QString *output, QString *error)
{
    ServiceProcess process;
    process.start(EngineProcesses::enginePath(QStringLiteral("splitter")), {command}, QIODevice::ReadOnly);
    const bool finished = process.waitForStarted(timeoutMs) && process.waitForFinished(timeoutMs);
    if (!finished && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (error) {
        *error = QString::fromLocal8Bit(process.readAllStandardError());
        if (!finished && error->isEmpty())
            *error = process.errorString();
    }
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

QString queryService(int timeoutMs)
{
    QString output;
    runService(QStringLiteral("query"), timeoutMs, &output, nullptr);
    return output;
}

bool startService(QString *output, QString *error, int timeoutMs)
{
    return runService(QStringLiteral("start"), timeoutMs, output, error);
}

void stopService(int timeoutMs)
{
    runService(QStringLiteral("stop"), timeoutMs, nullptr, nullptr);
}

QString controlImageName()
{
    return QStringLiteral("splitter-control.exe");
}

QString controlProgram()
{
    return EngineProcesses::enginePath(controlImageName());
}

QStringList controlArguments(const QStringList &baseNames)
{
    // Linux programs carry no ".exe".
    return baseNames.isEmpty() ? QStringList{QStringLiteral("none")} : baseNames;
}

QStringList runningExecutables()
{
    QStringList paths;
    QSet<QString> seen;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        entry.toLongLong(&ok);
        if (!ok)
            continue;
        QString target = QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget();
        // A program replaced by an update shows as "(deleted)"; it has no file to list.
        if (target.isEmpty() || target.endsWith(QLatin1String(" (deleted)")) || seen.contains(target))
            continue;
        seen.insert(target);
        paths.append(target);
    }
    return paths;
}

bool isListable(const QString &path)
{
    static const char *const folders[] = {"/usr/bin/", "/usr/local/bin/", "/usr/lib/", "/opt/", "/snap/"};
    if (path.contains(QLatin1String("service"), Qt::CaseInsensitive))
        return false;
    for (const char *folder : folders) {
        if (path.startsWith(QLatin1String(folder)))
            return true;
    }
    return false;
}

} // namespace Splitter
} // namespace Tavrix
