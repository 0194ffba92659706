#include <QDir>
#include <QFile>
#include <QHash>
#include <QPair>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

#include "platform/paths.h"
#include "platform/privatefile.h"
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

// The user's own desktop proxy settings, kept while ours are on.
QString savedPath()
{
    return engineFolder() + QStringLiteral("system-proxy.saved");
}

// The settings we change, and so save and put back: (schema suffix, key).
const QList<QPair<QString, QString>> &changedKeys()
{
    static const QList<QPair<QString, QString>> keys = {
        {QString(), QStringLiteral("mode")},
        {QStringLiteral(".http"), QStringLiteral("host")},
        {QStringLiteral(".http"), QStringLiteral("port")},
        {QStringLiteral(".https"), QStringLiteral("host")},
        {QStringLiteral(".https"), QStringLiteral("port")},
    };
    return keys;
}

QString keyName(const QPair<QString, QString> &key)
{
    return schema + key.first + QLatin1Char(' ') + key.second;
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

// Saves the desktop's values of the keys we change, once: a second switch-on (a new
// connection without a switch-off between, or one after a crash) keeps the user's own.
bool saveDesktopSettings()
{
    if (QFile::exists(savedPath()))
        return true;
    QByteArray text;
    for (const auto &key : changedKeys()) {
        QByteArray value;
        if (!gsettings({QStringLiteral("get"), schema + key.first, key.second}, &value))
            return false;
        text += keyName(key).toUtf8() + '=' + value + '\n';
    }
    QDir().mkpath(engineFolder());
    QString error;
    return writePrivateFile(savedPath(), text, &error);
}

// The saved values, by key; only the keys we change are taken from the file.
QHash<QString, QString> savedDesktopSettings()
{
    QHash<QString, QString> values;
    QFile file(savedPath());
    if (!file.open(QIODevice::ReadOnly))
        return values;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const int equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QString name = QString::fromUtf8(line.left(equals));
        for (const auto &key : changedKeys()) {
            if (keyName(key) == name)
                values.insert(name, QString::fromUtf8(line.mid(equals + 1)).trimmed());
        }
    }
    return values;
}

// Whether the desktop proxy is still the one we set: a user who changed it meanwhile keeps
// the change.
bool desktopPointsAt(const QString &server)
{
    QByteArray mode, host, port;
    if (!gsettings({QStringLiteral("get"), schema, QStringLiteral("mode")}, &mode) ||
        !gsettings({QStringLiteral("get"), schema + QStringLiteral(".http"), QStringLiteral("host")}, &host) ||
        !gsettings({QStringLiteral("get"), schema + QStringLiteral(".http"), QStringLiteral("port")}, &port))
        return false;
    const int colon = server.lastIndexOf(QLatin1Char(':'));
    return mode == "'manual'" && host == "'" + server.left(colon).toUtf8() + "'" &&
           port == server.mid(colon + 1).toUtf8();
}

// Puts the user's own values back where ours still stand; without saved values, switches the
// proxy off. The saved values are dropped either way.
bool restoreDesktopSettings(const QString &server)
{
    const QHash<QString, QString> saved = savedDesktopSettings();
    bool ok = true;
    if (server.isEmpty() || desktopPointsAt(server)) {
        if (saved.size() == changedKeys().size()) {
            // The mode last, so that the proxy never points at a half-restored server.
            for (int i = changedKeys().size() - 1; i >= 0; --i) {
                const auto &key = changedKeys().at(i);
                ok =
                    gsettings({QStringLiteral("set"), schema + key.first, key.second, saved.value(keyName(key))}) && ok;
            }
        } else {
            ok = setDesktopMode(QStringLiteral("none"));
        }
    }
    QFile::remove(savedPath());
    return ok;
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
    // Recorded as on before the desktop changes: a crash from here on is repaired at the
    // next start, which puts the user's own settings back.
    const bool recorded = writeRecord(true, server);
    if (colon > 0 && desktopHasProxySettings() && saveDesktopSettings()) {
        desktop = true;
        for (const QString &kind : {QStringLiteral(".http"), QStringLiteral(".https")}) {
            desktop = gsettings({QStringLiteral("set"), schema + kind, QStringLiteral("host"), host}) && desktop;
            desktop = gsettings({QStringLiteral("set"), schema + kind, QStringLiteral("port"), port}) && desktop;
        }
        desktop = setDesktopMode(QStringLiteral("manual")) && desktop;
    }
    if (where)
        *where = describe(desktop, recorded);
    return desktop || recorded;
}

bool disable(QString *where)
{
    QString server = recordedServer();
    const bool desktop = desktopHasProxySettings() && restoreDesktopSettings(server);
    const bool recorded = writeRecord(false, server);
    if (where)
        *where = describe(desktop, recorded);
    return desktop || recorded;
}

bool isOn(const QString &server)
{
    return recordedOn() && recordedServer() == server;
}

bool hasSavedSettings()
{
    return QFile::exists(savedPath());
}

} // namespace SystemProxy
} // namespace Tavrix
