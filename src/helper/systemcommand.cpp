#include "helper/systemcommand.h"

#include <QProcess>
#include <QProcessEnvironment>

#include "helper/childprocess.h"

namespace Tavrix {

namespace {

constexpr int commandWaitMs = 15000;

// The one way the helper runs a short tool: by its absolute path, the fixed environment, in
// "/", `input` (when not null) on its standard input, bounded in time.
struct Ran
{
    bool started = false;
    bool finished = false;
    int code = -1; // -1 unless it exited normally
    QByteArray output;
    QByteArray errors;
    QString startError;
};

Ran run(const QString &program, const QStringList &arguments, const QByteArray &input, bool merged)
{
    QProcessEnvironment environment;
    for (const QString &entry : ChildProcess::fixedEnvironment())
        environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QStringLiteral("/"));
    if (merged)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments, input.isNull() ? QIODevice::ReadOnly : QIODevice::ReadWrite);
    Ran ran;
    if (!process.waitForStarted(commandWaitMs)) {
        ran.startError = process.errorString();
        return ran;
    }
    ran.started = true;
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    ran.finished = process.waitForFinished(commandWaitMs);
    if (!ran.finished) {
        process.kill();
        process.waitForFinished(1000);
    }
    ran.output = process.readAllStandardOutput();
    ran.errors = process.readAllStandardError();
    if (ran.finished && process.exitStatus() == QProcess::NormalExit)
        ran.code = process.exitCode();
    return ran;
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
    const Ran ran = run(path, arguments, input, true);
    if (output)
        *output = ran.started ? QString::fromLocal8Bit(ran.output).trimmed() : ran.startError;
    return ran.code;
}

bool runSystemTool(const QString &tool, const QStringList &arguments, const QByteArray &input, QByteArray *output,
                   QString *error)
{
    const QString path = ChildProcess::systemToolPath(tool, error);
    if (path.isEmpty())
        return false;
    const Ran ran = run(path, arguments, input, false);
    if (output)
        *output = ran.output;
    if (!ran.started) {
        *error = QStringLiteral("%1 did not start: %2").arg(tool, ran.startError);
        return false;
    }
    if (!ran.finished) {
        *error = QStringLiteral("%1 did not finish").arg(tool);
        return false;
    }
    if (ran.code != 0) {
        *error = QString::fromLocal8Bit(ran.errors).simplified().left(300);
        if (error->isEmpty())
            *error = QStringLiteral("%1 failed (%2)").arg(tool).arg(ran.code);
        return false;
    }
    return true;
}

int runEngineOnce(const QString &engine, const QStringList &arguments, QString *output)
{
    QString error;
    const QString program = ChildProcess::enginePath(engine, &error);
    if (program.isEmpty()) {
        *output = error;
        return -1;
    }
    const Ran ran = run(program, arguments, QByteArray(), true);
    *output = ran.started ? QString::fromLocal8Bit(ran.output).trimmed() : ran.startError;
    return ran.code;
}

} // namespace Tavrix
