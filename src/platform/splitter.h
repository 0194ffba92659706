#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace Tavrix {

// The split-tunnel service and its control program, which make chosen applications bypass the
// tunnel. The service ("splitter") is a system component that is started once and kept; the
// control program is given the base names of the chosen applications and keeps them bypassing
// while it runs. Every call blocks for at most `timeoutMs`: call from a worker thread.
namespace Splitter {

// The output of the service query: contains "RUNNING" when the service runs.
QString queryService(int timeoutMs = 30000);
// Starts the service. Returns false with the program's error output when it failed.
bool startService(QString *output, QString *error, int timeoutMs = 30000);
// Removes what the service set up (after the control program has been stopped), so that no
// application stays outside the tunnel. Harmless when nothing is set up.
void stopService(int timeoutMs = 30000);

// The control program's image name ("splitter-control.exe"), for the stop by image name.
QString controlImageName();
// Path of the control program and its arguments for the chosen base names ("none" for none).
QString controlProgram();
QStringList controlArguments(const QStringList &baseNames);

// Unique paths of the programs running now, for the application list.
QStringList runningExecutables();

// A running program of an installed application: its path, and the name and icon (a theme
// name or a file) users know it by; both empty where the system gives none.
struct Application
{
    QString path;
    QString name;
    QString iconName;
};
// The programs of `runningPaths` that belong to installed applications (no shells, tools or
// services), once each, in order.
QVector<Application> applications(const QStringList &runningPaths);
// The name a program is chosen by, stored under and handed to the control program: what the
// control program compares with the running programs.
QString selectionName(const QString &path);

} // namespace Splitter
} // namespace Tavrix
