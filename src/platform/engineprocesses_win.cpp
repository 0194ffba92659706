#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include "platform/engineprocesses.h"

namespace Tavrix {
namespace EngineProcesses {

namespace {

QString imageName(const QString &windowsName)
{
    return QFileInfo(windowsName).fileName();
}

} // namespace

QString enginePath(const QString &windowsName)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(windowsName);
}

bool startDetached(const QString &windowsName, const QStringList &arguments, const QString &outputFile, qint64 *pid,
                   QString *error)
{
    QProcess engine;
    engine.setProgram(enginePath(windowsName));
    engine.setArguments(arguments);
    engine.setStandardOutputFile(outputFile);
    engine.setStandardErrorFile(outputFile, QIODevice::Append);
    if (engine.startDetached(pid))
        return true;
    *error = engine.errorString();
    return false;
}

QList<qint64> find(const QString &windowsName)
{
    QProcess tasklist;
    tasklist.start(QStringLiteral("tasklist"),
                   {QStringLiteral("/FI"), QStringLiteral("IMAGENAME eq %1").arg(imageName(windowsName)),
                    QStringLiteral("/FO"), QStringLiteral("CSV"), QStringLiteral("/NH")});
    QList<qint64> found;
    if (!tasklist.waitForFinished(30000))
        return found;
    const QStringList lines = QString::fromLocal8Bit(tasklist.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList fields = line.split(QStringLiteral("\",\""));
        if (fields.size() > 1)
            found.append(fields.at(1).toLongLong());
    }
    return found;
}

QHash<QString, QList<qint64>> findEach(const QStringList &windowsNames)
{
    QHash<QString, QList<qint64>> found;
    for (const QString &name : windowsNames)
        found.insert(name, {});
    // One listing of every process: "image","pid",... per line.
    QProcess tasklist;
    tasklist.start(QStringLiteral("tasklist"), {QStringLiteral("/FO"), QStringLiteral("CSV"), QStringLiteral("/NH")});
    if (!tasklist.waitForFinished(30000))
        return found;
    const QStringList lines = QString::fromLocal8Bit(tasklist.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList fields = line.split(QStringLiteral("\",\""));
        if (fields.size() < 2)
            continue;
        const QString image = fields.at(0).mid(1);
        for (const QString &name : windowsNames) {
            if (image.compare(imageName(name), Qt::CaseInsensitive) == 0)
                found[name].append(fields.at(1).toLongLong());
        }
    }
    return found;
}

bool isRunning(const QString &windowsName, qint64 pid)
{
    return pid > 0 && find(windowsName).contains(pid);
}

QString describe(const QString &windowsName)
{
    QString lines;
    for (qint64 pid : find(windowsName))
        lines += QString::number(pid) + QLatin1Char(' ') + imageName(windowsName) + QLatin1Char('\n');
    return lines;
}

int stop(const QString &windowsName, int graceMs)
{
    Q_UNUSED(graceMs)
    QProcess taskkill;
    taskkill.start(QStringLiteral("taskkill"), {QStringLiteral("/F"), QStringLiteral("/IM"), imageName(windowsName)});
    if (!taskkill.waitForFinished(30000))
        return -1;
    return taskkill.exitCode();
}

} // namespace EngineProcesses
} // namespace Tavrix
