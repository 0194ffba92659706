#include "ui/diagnosticreport.h"

#include <QDateTime>
#include <QFile>

#include "common/loginlink.h"
#include "log/secretmask.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {
namespace DiagnosticReport {

namespace {
// Enough for several hundred lines of the log without reading a whole rotated file.
constexpr qint64 tailBytes = 256 * 1024;

QString masked(const QString &line, const QStringList &knownSecrets)
{
    return maskLoginLinkSecrets(maskSecrets(line, knownSecrets));
}
} // namespace

QString build(const Facts &facts, const QStringList &logLines, const QStringList &knownSecrets)
{
    QStringList out;
    out << QStringLiteral("TavrixVPN diagnostic report")
        << QStringLiteral("Created: ") + QDateTime::currentDateTimeUtc().toString(Qt::ISODate)
        << QStringLiteral("Version: ") + facts.version << QStringLiteral("Operating system: ") + facts.operatingSystem
        << QStringLiteral("Status: ") + facts.status
        << QStringLiteral("Log file: ") + masked(facts.logFile, knownSecrets) << QString()
        << QStringLiteral("---- last %1 log lines ----").arg(logLines.size());
    for (const QString &line : logLines)
        out << masked(line, knownSecrets);
    out << QStringLiteral("---- end of report ----");
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QStringList lastLines(const QString &path, int count)
{
    QFile file(path);
    if (count <= 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();
    const bool partial = size > tailBytes;
    if (partial)
        file.seek(size - tailBytes);
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    // A cut into the middle of the file starts inside a line.
    if (partial && !lines.isEmpty())
        lines.removeFirst();
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    if (lines.size() > count)
        lines = lines.mid(lines.size() - count);
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

QString statusName(int status)
{
    switch (status) {
    case OpenConnectConnection::CONNECTING:
        return QStringLiteral("Connecting");
    case OpenConnectConnection::CONNECTED:
        return QStringLiteral("Connected");
    case OpenConnectConnection::DISCONNECTING:
        return QStringLiteral("Disconnecting");
    default:
        return QStringLiteral("Disconnected");
    }
}

} // namespace DiagnosticReport
} // namespace Tavrix
