#pragma once

#include <QString>
#include <QStringList>

namespace Tavrix {

// The text the support page copies for the service's support: what runs where, the connection
// status and the newest log lines, with every password, cookie and token hidden exactly as the
// log hides them.
namespace DiagnosticReport {

constexpr int defaultLogLines = 300;

struct Facts
{
    QString version;
    QString operatingSystem;
    QString status;
    QString logFile;
};

// The report; `knownSecrets` (the stored password, for example) are hidden wherever they
// appear, on top of the log's own masking.
QString build(const Facts &facts, const QStringList &logLines, const QStringList &knownSecrets);

// The last `count` lines of the text file at `path` (fewer when it is shorter; none when it
// cannot be read). Reads only the file's tail.
QStringList lastLines(const QString &path, int count = defaultLogLines);

// "Disconnected", "Connecting", "Connected", "Disconnecting" for a controller status.
QString statusName(int status);

} // namespace DiagnosticReport
} // namespace Tavrix
