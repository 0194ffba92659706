#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include "platform/engineprocesses.h"
#include "platform/splitter.h"

namespace Tavrix {
namespace Splitter {

namespace {

bool runService(const QString &command, int timeoutMs, QString *output, QString *error)
{
    QProcess process;
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

namespace {

// An installed application as its desktop entry describes it, with the programs it starts
// (symbolic links resolved).
struct DesktopEntry
{
    QString name;
    QString icon;
    QStringList programs;
};

// Shells, interpreters and launchers start other programs: a process of theirs is no
// application of its own, whatever entry started it.
bool isLauncher(const QString &path)
{
    static const QRegularExpression launchers(
        QStringLiteral("^(sh|bash|dash|zsh|ksh|mksh|fish|csh|tcsh|busybox|env|sudo|pkexec|su|flatpak|snap|xdg-open|gio|"
                       "gtk-launch|python[0-9.]*|perl[0-9.]*|ruby[0-9.]*|node|nodejs|java)$"));
    return launchers.match(QFileInfo(path).fileName()).hasMatch();
}

// The arguments of an Exec line: blanks separate them, double quotes group them and a
// backslash in quotes takes the next character as it is.
QStringList execArguments(const QString &exec)
{
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool any = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted && c == QLatin1Char('\\') && i + 1 < exec.size()) {
            current += exec.at(++i);
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
            any = true;
        } else if (!quoted && c.isSpace()) {
            if (any || !current.isEmpty())
                arguments.append(current);
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.isEmpty())
        arguments.append(current);
    return arguments;
}

// The program an Exec line starts: "env NAME=value program ..." starts the program.
QString execProgram(const QString &exec)
{
    QStringList arguments = execArguments(exec);
    if (!arguments.isEmpty() && QFileInfo(arguments.first()).fileName() == QLatin1String("env")) {
        arguments.removeFirst();
        while (!arguments.isEmpty() && arguments.first().contains(QLatin1Char('=')))
            arguments.removeFirst();
    }
    return arguments.value(0);
}

// The program's real file: found on PATH when named without a folder, links resolved.
QString programFile(const QString &program)
{
    if (program.isEmpty())
        return QString();
    const QString path = QFileInfo(program).isAbsolute() ? program : QStandardPaths::findExecutable(program);
    return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
}

QVector<DesktopEntry> desktopEntries()
{
    QVector<DesktopEntry> entries;
    QSet<QString> ids;
    const QString language = QLocale().name();
    // In order of precedence: the user's own entries hide the system's of the same name.
    const QStringList folders = QStandardPaths::locateAll(
        QStandardPaths::GenericDataLocation, QStringLiteral("applications"), QStandardPaths::LocateDirectory);
    for (const QString &folder : folders) {
        const QStringList files = QDir(folder).entryList({QStringLiteral("*.desktop")}, QDir::Files);
        for (const QString &file : files) {
            if (ids.contains(file))
                continue;
            ids.insert(file);
            QFile entry(QDir(folder).filePath(file));
            if (!entry.open(QIODevice::ReadOnly | QIODevice::Text))
                continue;
            QHash<QString, QString> keys;
            bool inMain = false;
            while (!entry.atEnd()) {
                const QString line = QString::fromUtf8(entry.readLine()).trimmed();
                if (line.startsWith(QLatin1Char('['))) {
                    inMain = line == QLatin1String("[Desktop Entry]");
                    continue;
                }
                const int equals = line.indexOf(QLatin1Char('='));
                if (inMain && equals > 0 && !line.startsWith(QLatin1Char('#')))
                    keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
            }
            // Entries the menus do not show are no applications a user knows.
            if (keys.value(QStringLiteral("Type")) != QLatin1String("Application") ||
                keys.value(QStringLiteral("NoDisplay")) == QLatin1String("true") ||
                keys.value(QStringLiteral("Hidden")) == QLatin1String("true"))
                continue;
            DesktopEntry application;
            application.name = keys.value(QStringLiteral("Name[%1]").arg(language),
                                          keys.value(QStringLiteral("Name[%1]").arg(language.section('_', 0, 0)),
                                                     keys.value(QStringLiteral("Name"))));
            application.icon = keys.value(QStringLiteral("Icon"));
            for (const QString &program : {programFile(keys.value(QStringLiteral("TryExec"))),
                                           programFile(execProgram(keys.value(QStringLiteral("Exec"))))}) {
                if (!program.isEmpty() && !isLauncher(program) && !application.programs.contains(program))
                    application.programs.append(program);
            }
            if (!application.name.isEmpty() && !application.programs.isEmpty())
                entries.append(application);
        }
    }
    return entries;
}

// Folders many programs share: a program there is only the application its entry names.
QSet<QString> sharedFolders()
{
    QSet<QString> folders;
    for (const char *folder : {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/local/bin", "/usr/local/sbin",
                               "/usr/games", "/usr/local/games", "/snap/bin"})
        folders.insert(QLatin1String(folder));
    for (const QString &folder : qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        folders.insert(folder);
        folders.insert(QFileInfo(folder).canonicalFilePath());
    }
    return folders;
}

} // namespace

QVector<Application> applications(const QStringList &runningPaths)
{
    const QVector<DesktopEntry> entries = desktopEntries();
    const QSet<QString> shared = sharedFolders();
    QVector<Application> result;
    QSet<QString> seen;
    for (const QString &path : runningPaths) {
        if (seen.contains(path))
            continue;
        seen.insert(path);
        QString file = QFileInfo(path).canonicalFilePath();
        if (file.isEmpty())
            file = path;
        if (isLauncher(file))
            continue;
        const QString folder = QFileInfo(file).path();
        const DesktopEntry *owner = nullptr;
        // The program an entry starts; else a program beside it in the application's own
        // folder (a start script that runs the real program, such as "soffice" and
        // "soffice.bin").
        for (const DesktopEntry &entry : entries) {
            if (entry.programs.contains(file)) {
                owner = &entry;
                break;
            }
        }
        if (!owner && !shared.contains(folder)) {
            for (const DesktopEntry &entry : entries) {
                for (const QString &program : entry.programs) {
                    if (QFileInfo(program).path() == folder)
                        owner = &entry;
                }
                if (owner)
                    break;
            }
        }
        if (owner)
            result.append({path, owner->name, owner->icon});
    }
    return result;
}

QString selectionName(const QString &path)
{
    // The control program compares the whole file name of each running program.
    return QFileInfo(path).fileName();
}

} // namespace Splitter
} // namespace Tavrix
