#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include "platform/splitter.h"

namespace Tavrix {
namespace Splitter {

namespace {

QString runCmd(const QString &command, int timeoutMs, QString *error)
{
    QProcess process;
    process.start(QStringLiteral("cmd"), {QStringLiteral("/c"), command});
    process.waitForFinished(timeoutMs);
    if (error)
        *error = QString::fromLocal8Bit(process.readAllStandardError());
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

} // namespace

QString queryService(int timeoutMs)
{
    return runCmd(QStringLiteral("sc query splitter"), timeoutMs, nullptr);
}

bool startService(QString *output, QString *error, int timeoutMs)
{
    QString err;
    const QString out = runCmd(QStringLiteral("net start splitter"), timeoutMs, &err);
    if (output)
        *output = out;
    if (error)
        *error = err;
    return err.isEmpty();
}

void stopService(int timeoutMs)
{
    // The Windows service is kept running; the control program with "none.exe" releases
    // every application.
    Q_UNUSED(timeoutMs)
}

QString controlImageName()
{
    return QStringLiteral("splitter-control.exe");
}

QString controlProgram()
{
    return QStringLiteral("splitter-control.exe");
}

QStringList controlArguments(const QStringList &baseNames)
{
    QStringList arguments;
    for (const QString &name : baseNames)
        arguments.append(name + QStringLiteral(".exe"));
    if (arguments.isEmpty())
        arguments.append(QStringLiteral("none.exe"));
    return arguments;
}

QStringList runningExecutables()
{
    QProcess process;
    process.start(QStringLiteral("powershell"),
                  {QStringLiteral("-Command"),
                   QStringLiteral("Get-Process | Where-Object {$_.Path} | Select-Object -Unique Path")});
    process.waitForFinished(30000);
    QStringList paths;
    const QStringList lines = QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString path = line.trimmed();
        if (path.startsWith(QLatin1String("C:\\")) || path.startsWith(QLatin1String("D:\\")))
            paths.append(path);
    }
    return paths;
}

namespace {

bool isListable(const QString &path)
{
    return path.contains(QLatin1String("C:\\Program Files\\"), Qt::CaseInsensitive) &&
           !path.contains(QLatin1String("Service"), Qt::CaseInsensitive);
}

} // namespace

QVector<Application> applications(const QStringList &runningPaths)
{
    QVector<Application> result;
    QStringList seen;
    for (const QString &path : runningPaths) {
        if (!isListable(path) || seen.contains(path))
            continue;
        seen.append(path);
        result.append({path, QFileInfo(path).completeBaseName(), QString()});
    }
    return result;
}

QString selectionName(const QString &path)
{
    // The control program is given "<name>.exe".
    return QFileInfo(path).completeBaseName();
}

} // namespace Splitter
} // namespace Tavrix
