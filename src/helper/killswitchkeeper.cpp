#include "helper/killswitchkeeper.h"

#include <QDBusArgument>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

#include "helper/childprocess.h"

namespace Tavrix {

namespace {

using HelperProto::KillSwitchAddress;
using HelperProto::KillSwitchRequest;
using HelperProto::KillSwitchState;
namespace Key = HelperProto::KillSwitchKey;

// nft answers in milliseconds; a hung one must not hold the helper.
constexpr int nftWaitMs = 10000;
const QString storedPrefix = QStringLiteral("killswitch-");

bool refuse(QString *error, const QString &why)
{
    *error = QStringLiteral("Kill switch request: ") + why;
    return false;
}

bool readText(const QVariantMap &map, const char *key, QString *out, bool required, QString *error)
{
    const QVariant value = map.value(QLatin1String(key));
    if (!value.isValid())
        return !required || refuse(error, QStringLiteral("missing %1").arg(QLatin1String(key)));
    if (value.userType() != QMetaType::QString)
        return refuse(error, QStringLiteral("%1 must be a string").arg(QLatin1String(key)));
    *out = value.toString();
    return true;
}

bool readList(const QVariantMap &map, const char *key, QStringList *out, QString *error)
{
    const QVariant value = map.value(QLatin1String(key));
    if (!value.isValid())
        return true;
    if (value.userType() != QMetaType::QStringList)
        return refuse(error, QStringLiteral("%1 must be a list of strings").arg(QLatin1String(key)));
    *out = value.toStringList();
    return true;
}

bool onlyKeys(const QVariantMap &map, const QList<const char *> &known, QString *error)
{
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        bool found = false;
        for (const char *key : known)
            found = found || it.key() == QLatin1String(key);
        if (!found)
            return refuse(error, QStringLiteral("unknown field \"%1\"").arg(it.key().left(40)));
    }
    return true;
}

bool readAddresses(const QVariantMap &map, const char *key, int max, QList<KillSwitchAddress> *out, QString *error)
{
    const QVariant value = map.value(QLatin1String(key));
    if (!value.isValid())
        return true;
    // aa{sv} inside a variant arrives undecoded; anything of another shape is refused.
    if (value.userType() != qMetaTypeId<QDBusArgument>() ||
        value.value<QDBusArgument>().currentSignature() != QLatin1String("aa{sv}"))
        return refuse(error, QStringLiteral("%1 must be a list of field sets").arg(QLatin1String(key)));
    QList<QVariantMap> list;
    value.value<QDBusArgument>() >> list;
    if (list.size() > max)
        return refuse(error, QStringLiteral("too many %1").arg(QLatin1String(key)));
    for (const QVariantMap &fields : qAsConst(list)) {
        KillSwitchAddress entry;
        if (!onlyKeys(fields, {Key::address, Key::port, Key::protocol}, error) ||
            !readText(fields, Key::address, &entry.address, true, error) ||
            !readText(fields, Key::protocol, &entry.protocol, true, error))
            return false;
        const QVariant port = fields.value(QLatin1String(Key::port));
        if (port.isValid() && (port.userType() != QMetaType::UInt || port.toUInt() > 65535))
            return refuse(error, QStringLiteral("Port must be a number up to 65535"));
        entry.port = quint16(port.toUInt());
        out->append(entry);
    }
    return true;
}

} // namespace

KillSwitchKeeper::KillSwitchKeeper(const QDBusConnection &bus, const QString &stateFolder, QObject *parent)
    : QObject(parent)
    , m_stateFolder(stateFolder)
{
    // Without a bus (restoring the block at boot) there is no window to follow.
    if (!bus.isConnected())
        return;
    m_watcher = new QDBusServiceWatcher(QString(), bus, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &KillSwitchKeeper::onBusNameGone);
}

bool KillSwitchKeeper::readRequest(const QVariantMap &fields, KillSwitchRequest *request, QString *error)
{
    QString state;
    if (!onlyKeys(fields, {Key::state, Key::endpoints, Key::services, Key::interfaces, Key::dns}, error) ||
        !readText(fields, Key::state, &state, true, error))
        return false;
    if (!HelperProto::parseKillSwitchState(state, &request->state))
        return refuse(error, QStringLiteral("unknown state \"%1\"").arg(state.left(20)));
    if (!readAddresses(fields, Key::endpoints, HelperProto::maxKillSwitchEndpoints, &request->endpoints, error) ||
        !readAddresses(fields, Key::services, HelperProto::maxKillSwitchServices, &request->services, error) ||
        !readList(fields, Key::interfaces, &request->interfaces, error) ||
        !readList(fields, Key::dns, &request->dns, error))
        return false;
    QString why;
    if (!HelperProto::validateKillSwitchRequest(*request, &why))
        return refuse(error, why);
    return true;
}

bool KillSwitchKeeper::runNft(const QByteArray &ruleset, QString *error) const
{
    QProcess nft;
    QProcessEnvironment environment;
    for (const QString &entry : ChildProcess::fixedEnvironment())
        environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    nft.setProcessEnvironment(environment);
    nft.setProcessChannelMode(QProcess::MergedChannels);
    nft.setWorkingDirectory(QStringLiteral("/"));
    nft.start(QLatin1String(nftProgram), {QStringLiteral("-f"), QStringLiteral("-")});
    if (!nft.waitForStarted(nftWaitMs)) {
        *error = QStringLiteral("nft could not be started: ") + nft.errorString();
        return false;
    }
    nft.write(ruleset);
    nft.closeWriteChannel();
    if (!nft.waitForFinished(nftWaitMs)) {
        nft.kill();
        nft.waitForFinished(2000);
        *error = QStringLiteral("nft did not finish");
        return false;
    }
    if (nft.exitStatus() != QProcess::NormalExit || nft.exitCode() != 0) {
        *error = QStringLiteral("nft refused the rules: ") +
                 QString::fromUtf8(nft.readAll()).trimmed().section(QLatin1Char('\n'), 0, 2);
        return false;
    }
    return true;
}

QString KillSwitchKeeper::storedPath(uint uid) const
{
    return m_stateFolder + QLatin1Char('/') + storedPrefix + QString::number(uid);
}

bool KillSwitchKeeper::store(uint uid, const KillSwitchRequest &request, QString *error) const
{
    if (m_stateFolder.isEmpty())
        return true;
    const bool on = request.state == KillSwitchState::Blocked || request.state == KillSwitchState::Tunnel;
    if (!on) {
        QFile::remove(storedPath(uid));
        return true;
    }
    ::mkdir(QFile::encodeName(m_stateFolder).constData(), 0700);
    QSaveFile file(storedPath(uid));
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(HelperProto::killSwitchStoredText(request)) < 0 || !file.commit()) {
        *error = QStringLiteral("cannot keep the kill switch for the next start: ") + file.errorString();
        return false;
    }
    return true;
}

bool KillSwitchKeeper::apply(uint uid, const QString &busName, const KillSwitchRequest &request, QString *error)
{
    if (!runNft(HelperProto::killSwitchRuleset(uid, request), error)) {
        qWarning().noquote() << QStringLiteral("Kill switch of uid %1 not changed to %2: %3")
                                    .arg(uid)
                                    .arg(HelperProto::killSwitchStateName(request.state), *error);
        return false;
    }
    qInfo().noquote()
        << QStringLiteral("Kill switch of uid %1: %2").arg(uid).arg(HelperProto::killSwitchStateName(request.state));
    Entry &entry = m_entries[uid];
    // Only Blocked carries the service addresses; the others keep the last ones for a fallback.
    KillSwitchRequest kept = request;
    if (request.state == KillSwitchState::Tunnel && request.services.isEmpty())
        kept.services = entry.request.services;
    entry.request = kept;
    if (m_watcher && !busName.isEmpty() && entry.busName != busName) {
        // A new window of this user: the one before no longer speaks for the switch.
        if (!entry.busName.isEmpty())
            m_watcher->removeWatchedService(entry.busName);
        entry.busName = busName;
        m_watcher->addWatchedService(busName);
    }
    QString storeError;
    if (!store(uid, kept, &storeError))
        qWarning().noquote() << storeError;
    if (request.state == KillSwitchState::Off)
        m_entries.remove(uid);
    return true;
}

void KillSwitchKeeper::restoreStored()
{
    if (m_stateFolder.isEmpty())
        return;
    const QStringList names = QDir(m_stateFolder).entryList({storedPrefix + QLatin1Char('*')}, QDir::Files);
    for (const QString &name : names) {
        bool ok = false;
        const uint uid = name.mid(storedPrefix.size()).toUInt(&ok);
        QFile file(m_stateFolder + QLatin1Char('/') + name);
        if (!ok || !file.open(QIODevice::ReadOnly))
            continue;
        KillSwitchRequest request;
        QString error;
        if (!HelperProto::parseKillSwitchStoredText(file.read(64 * 1024), &request, &error) ||
            !apply(uid, QString(), request, &error))
            qWarning().noquote() << QStringLiteral("Kill switch of uid %1 not restored: %2").arg(uid).arg(error);
    }
}

void KillSwitchKeeper::onBusNameGone(const QString &busName)
{
    m_watcher->removeWatchedService(busName);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it.value().busName != busName)
            continue;
        it.value().busName.clear();
        KillSwitchRequest fallback = it.value().request;
        if (fallback.state == KillSwitchState::Tunnel)
            fallback.state = KillSwitchState::Blocked;
        else if (fallback.state == KillSwitchState::TunnelIpv6)
            fallback.state = KillSwitchState::Off;
        else
            continue;
        qInfo().noquote() << QStringLiteral("The window of uid %1 left the bus: kill switch %2")
                                 .arg(it.key())
                                 .arg(HelperProto::killSwitchStateName(fallback.state));
        QString error;
        const uint uid = it.key();
        apply(uid, QString(), fallback, &error);
        break; // apply() may have changed the hash
    }
}

} // namespace Tavrix
