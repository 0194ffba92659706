#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

#include "platform/paths.h"
#include "platform/systemproxy.h"

namespace Tavrix {
namespace SystemProxy {

namespace {

const QString schema = QStringLiteral("org.gnome.system.proxy");
// A desktop settings call normally takes milliseconds; a hung session bus must not hold us.
constexpr int gsettingsTimeoutMs = 5000;

QString recordPath()
{
    return engineFolder() + QStringLiteral("system-proxy");
}

bool gsettings(const QStringList &arguments, QByteArray *output = nullptr)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty())
        return false;
    QProcess process;
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(gsettingsTimeoutMs) || !process.waitForFinished(gsettingsTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput().trimmed();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool desktopHasProxySettings()
{
    return gsettings({QStringLiteral("list-keys"), schema});
}

// Sets the desktop's mode and reads it back: without a running settings service a write
// may "succeed" and change nothing.
bool setDesktopMode(const QString &mode)
{
    if (!gsettings({QStringLiteral("set"), schema, QStringLiteral("mode"), mode}))
        return false;
    QByteArray now;
    return gsettings({QStringLiteral("get"), schema, QStringLiteral("mode")}, &now) &&
           now == "'" + mode.toLatin1() + "'";
}

// The record mirrors the Windows values, so that both read the same.
bool writeRecord(bool on, const QString &server)
{
    QSaveFile file(recordPath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral("ProxyEnable=%1\nProxyServer=%2\n").arg(on ? 1 : 0).arg(server).toUtf8());
    return file.commit();
}

QString recordedServer()
{
    QFile file(recordPath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString server;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("ProxyServer="))
            server = QString::fromUtf8(line.mid(12)).trimmed();
    }
    return server;
}

bool recordedOn()
{
    QFile file(recordPath());
    return file.open(QIODevice::ReadOnly) && file.readAll().split('\n').contains("ProxyEnable=1");
}

QString describe(bool desktop, bool recorded)
{
    if (desktop && recorded)
        return QStringLiteral("the desktop proxy settings (GNOME) and the record ") + recordPath();
    if (desktop)
        return QStringLiteral("the desktop proxy settings (GNOME); the record %1 could not be written")
            .arg(recordPath());
    if (recorded)
        return QStringLiteral("the record %1 only (no desktop proxy settings here: set the proxy by hand where "
                              "applications need it)")
            .arg(recordPath());
    return QStringLiteral("nothing: neither the desktop proxy settings nor the record %1 could be written")
        .arg(recordPath());
}

} // namespace

bool enable(const QString &server, QString *where)
{
    bool desktop = false;
    const int colon = server.lastIndexOf(QLatin1Char(':'));
    const QString host = server.left(colon);
    const QString port = server.mid(colon + 1);
    if (colon > 0 && desktopHasProxySettings()) {
        desktop = true;
        for (const QString &kind : {QStringLiteral(".http"), QStringLiteral(".https")}) {
            desktop = gsettings({QStringLiteral("set"), schema + kind, QStringLiteral("host"), host}) && desktop;
            desktop = gsettings({QStringLiteral("set"), schema + kind, QStringLiteral("port"), port}) && desktop;
        }
        desktop = setDesktopMode(QStringLiteral("manual")) && desktop;
    }
    const bool recorded = writeRecord(true, server);
    if (where)
        *where = describe(desktop, recorded);
    return desktop || recorded;
}

bool disable(QString *where)
{
    const bool desktop = desktopHasProxySettings() && setDesktopMode(QStringLiteral("none"));
    QString server = recordedServer();
    const bool recorded = writeRecord(false, server);
    if (where)
        *where = describe(desktop, recorded);
    return desktop || recorded;
}

bool isOn(const QString &server)
{
    return recordedOn() && recordedServer() == server;
}

} // namespace SystemProxy
} // namespace Tavrix
