#include "helper/systemcommand.h"

#include <QProcess>
#include <QProcessEnvironment>

#include "helper/childprocess.h"

namespace Tavrix {

namespace {

constexpr int commandWaitMs = 15000;

int run(const QString &program, const QStringList &arguments, QString *output, const QByteArray &input = QByteArray())
{
    QProcessEnvironment environment;
    for (const QString &entry : ChildProcess::fixedEnvironment())
        environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QStringLiteral("/"));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments, input.isNull() ? QIODevice::ReadOnly : QIODevice::ReadWrite);
    if (!process.waitForStarted(commandWaitMs)) {
        if (output)
            *output = process.errorString();
        return -1;
    }
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    if (!process.waitForFinished(commandWaitMs)) {
        process.kill();
        process.waitForFinished(1000);
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

int runSystemCommand(const QString &tool, const QStringList &arguments, QString *output, const QByteArray &input)
{
    QString error;
    const QString path = ChildProcess::systemToolPath(tool, &error);
    if (path.isEmpty()) {
        if (output)
            *output = error;
        return -1;
    }
    return run(path, arguments, output, input);
}

int runEngineOnce(const QString &engine, const QStringList &arguments, QString *output)
{
    QString error;
    const QString program = ChildProcess::enginePath(engine, &error);
    if (program.isEmpty()) {
        *output = error;
        return -1;
    }
    return run(program, arguments, output);
}

} // namespace Tavrix
