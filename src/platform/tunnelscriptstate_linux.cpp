#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include "platform/tunnelscriptstate.h"

namespace Tavrix {
namespace TunnelScriptState {

namespace {

// Where the system's vpnc-script keeps its copies, named after the session's process id
// (the library hands the script our own id).
const QString stateFolder = QStringLiteral("/var/run/vpnc/");
const QString resolverFile = QStringLiteral("/etc/resolv.conf");
// The first line the script writes into the resolver configuration it generates.
const QByteArray generatedMark = "#@VPNC_GENERATED@";
constexpr int routeWaitMs = 5000;

QString restoreResolver(const QString &backup)
{
    QFile saved(backup);
    if (!saved.open(QIODevice::ReadOnly))
        return QStringLiteral("the resolver configuration: cannot read ") + backup;
    const QByteArray original = saved.readAll();
    QFile current(resolverFile);
    if (!current.open(QIODevice::ReadOnly) || !current.readLine().startsWith(generatedMark)) {
        // Someone else has rewritten it since: theirs stays.
        QFile::remove(backup);
        return QString();
    }
    current.close();
    // Written in place, as the script does: the file may be a bind mount or a link.
    QFile target(resolverFile);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate) || target.write(original) != original.size())
        return QStringLiteral("the resolver configuration %1: %2").arg(resolverFile, target.errorString());
    target.close();
    QFile::remove(backup);
    return QStringLiteral("the resolver configuration %1").arg(resolverFile);
}

// Each line the script saved is one default route ("default via ... dev ...").
QStringList restoreRoutes(const QString &saved, const QString &family)
{
    QFile file(saved);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    QFile::remove(saved);
    QStringList restored;
    for (const QByteArray &line : lines) {
        const QString route = QString::fromLocal8Bit(line).simplified();
        if (route.isEmpty())
            continue;
        QProcess ip;
        ip.setProcessChannelMode(QProcess::MergedChannels);
        // From the system's folders, never through the caller's PATH.
        ip.start(QStandardPaths::findExecutable(QStringLiteral("ip"),
                                                {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                                 QStringLiteral("/sbin"), QStringLiteral("/bin")}),
                 QStringList{family, QStringLiteral("route"), QStringLiteral("replace")} +
                     route.split(QLatin1Char(' ')));
        const bool done =
            ip.waitForFinished(routeWaitMs) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
        if (done) {
            restored << QStringLiteral("the default route \"%1\"").arg(route);
        } else {
            ip.kill();
            ip.waitForFinished(1000);
            restored << QStringLiteral("the default route \"%1\": %2")
                            .arg(route, QString::fromLocal8Bit(ip.readAll()).trimmed());
        }
    }
    return restored;
}

} // namespace

QStringList restoreAfterSession(qint64 pid)
{
    QStringList restored;
    if (pid <= 0)
        return restored;
    const QString id = QString::number(pid);
    const QString backup = stateFolder + QStringLiteral("resolv.conf-backup.") + id;
    if (QFile::exists(backup)) {
        const QString line = restoreResolver(backup);
        if (!line.isEmpty())
            restored << line;
    }
    for (const auto &route : {qMakePair(QStringLiteral("defaultroute."), QStringLiteral("-4")),
                              qMakePair(QStringLiteral("defaultroute_ipv6."), QStringLiteral("-6"))}) {
        restored += restoreRoutes(stateFolder + route.first + id, route.second);
    }
    return restored;
}

} // namespace TunnelScriptState
} // namespace Tavrix
