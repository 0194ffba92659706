#include "helper/bypassgroup.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <sys/mount.h>

#include "helper/systemcommand.h"
#include "helperproto/outlinesplit.h"

namespace Tavrix {

namespace {

// Often enough that a program just started is outside the tunnel before it has done much.
constexpr int placeIntervalMs = 200;
const QString groupPrefix = QStringLiteral("tavrixvpn-bypass-");
const QString tablePrefix = QStringLiteral("tavrixvpn_split_");
constexpr int firstRouteTable = 7300;

QByteArray readSmall(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(8192) : QByteArray();
}

// The cgroup v2 hierarchy, where nft finds groups by path (below /sys/fs/cgroup). A helper
// started by hand in a network namespace of its own ("ip netns exec") has a fresh /sys without
// it: it mounts it there, in that private mount namespace only, never in the machine's.
QString cgroupRoot(QString *error)
{
    static QString root;
    if (!root.isEmpty())
        return root;
    for (int attempt = 0; attempt < 2 && root.isEmpty(); ++attempt) {
        for (const QByteArray &line : readSmall(QStringLiteral("/proc/self/mountinfo")).split('\n')) {
            if (!line.contains(" - cgroup2 "))
                continue;
            const QString mountPoint = QString::fromLocal8Bit(line.split(' ').value(4));
            if (mountPoint == QLatin1String("/sys/fs/cgroup") ||
                mountPoint.startsWith(QLatin1String("/sys/fs/cgroup/")))
                root = mountPoint;
        }
        if (!root.isEmpty() || attempt > 0)
            break;
        const QString ours = QFileInfo(QStringLiteral("/proc/self/ns/mnt")).symLinkTarget();
        const QString machines = QFileInfo(QStringLiteral("/proc/1/ns/mnt")).symLinkTarget();
        if (ours.isEmpty() || ours == machines ||
            ::mount("cgroup2", "/sys/fs/cgroup", "cgroup2", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
            break;
    }
    if (root.isEmpty())
        *error = QStringLiteral("Split tunnelling needs the cgroup v2 hierarchy, which is not mounted.");
    return root;
}

QString cgroupOf(const QString &pid)
{
    for (const QByteArray &line : readSmall(QStringLiteral("/proc/%1/cgroup").arg(pid)).split('\n')) {
        if (line.startsWith("0::"))
            return QString::fromLocal8Bit(line.mid(3));
    }
    return QString();
}

// The real and the effective uid: a set-uid program the user started is not the user's.
bool belongsTo(const QString &pid, uint uid)
{
    for (const QByteArray &line : readSmall(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        if (line.startsWith("Uid:")) {
            const QList<QByteArray> ids = line.mid(4).simplified().split(' ');
            return ids.size() >= 2 && ids.at(0).toUInt() == uid && ids.at(1).toUInt() == uid;
        }
    }
    return false;
}

QString programName(const QString &pid)
{
    QString target = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    if (target.endsWith(QLatin1String(" (deleted)")))
        target.chop(10);
    return target.isEmpty() ? QString() : QFileInfo(target).fileName();
}

QStringList numericEntries(const QString &folder)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot).filter(digits);
}

} // namespace

BypassGroup::BypassGroup(const QString &id, int slot, uint uid, const RuntimeFolder &folder, QObject *parent)
    : Tunnel(id, QStringLiteral("Split tunnel"), folder, parent)
    , m_slot(slot)
    , m_uid(uid)
    , m_group(groupPrefix + QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(slot))
{
}

QStringList BypassGroup::serviceArguments(const QString &command) const
{
    // The mark always ends in 7a58: the Outline tunnel lets such packets pass.
    return {command, m_group, tablePrefix + QString::number(m_slot),
            QStringLiteral("0x%1").arg(0x7a58 + ((m_slot + 1) << 16), 0, 16),
            QString::number(firstRouteTable + m_slot)};
}

bool BypassGroup::start(const QStringList &programs, QString *error)
{
    if (!HelperProto::validateProgramNames(programs, error))
        return false;
    m_root = cgroupRoot(error);
    if (m_root.isEmpty())
        return false;
    QString output;
    if (runEngineOnce(QStringLiteral("splitter"), serviceArguments(QStringLiteral("start")), &output) != 0) {
        *error = QStringLiteral("The split-tunnel rules could not be set up: ") + output.left(300);
        runEngineOnce(QStringLiteral("splitter"), serviceArguments(QStringLiteral("stop")), &output);
        QDir(m_root).rmdir(m_group);
        return false;
    }
    m_programs = QSet<QString>(programs.begin(), programs.end());
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &BypassGroup::place);
    m_timer->start(placeIntervalMs);
    place();
    markUp();
    return true;
}

void BypassGroup::setPrograms(const QStringList &programs)
{
    m_programs = QSet<QString>(programs.begin(), programs.end());
    place();
}

bool BypassGroup::moveTo(const QString &group, const QString &pid) const
{
    QFile procs(m_root + group + QStringLiteral("/cgroup.procs"));
    return procs.open(QIODevice::WriteOnly | QIODevice::Append) && procs.write(pid.toLatin1()) > 0 && procs.flush();
}

void BypassGroup::place()
{
    const QString inside = QLatin1Char('/') + m_group;
    const QString self = QString::number(QCoreApplication::applicationPid());
    // One read for the group's members, one look at each process's program: this runs five
    // times a second, the uid and the group of a process are read only for the chosen names.
    QSet<QString> members;
    for (const QByteArray &pid : readSmall(m_root + inside + QStringLiteral("/cgroup.procs")).split('\n')) {
        if (!pid.trimmed().isEmpty())
            members.insert(QString::fromLatin1(pid.trimmed()));
    }
    QSet<QString> seen;
    for (const QString &pid : numericEntries(QStringLiteral("/proc"))) {
        if (pid == self)
            continue;
        seen.insert(pid);
        const bool isInside = members.contains(pid);
        // Only the owner's own processes, by their program's name; nobody else's, whatever
        // their name, and never one that changed its uid (a set-uid program).
        const QString program = programName(pid);
        const bool chosen = m_programs.contains(program) && belongsTo(pid, m_uid);
        if (chosen && !isInside) {
            const QString current = cgroupOf(pid);
            if (!current.isEmpty() && moveTo(inside, pid)) {
                m_origins.insert(pid, current);
                emit output(QStringLiteral("bypassing: %1 (%2)").arg(pid, program));
            }
        } else if (!chosen && isInside) {
            if (!moveTo(m_origins.value(pid, QStringLiteral("/")), pid))
                moveTo(QString(), pid);
            m_origins.remove(pid);
        }
    }
    for (auto it = m_origins.begin(); it != m_origins.end();)
        it = seen.contains(it.key()) ? std::next(it) : m_origins.erase(it);
}

void BypassGroup::cleanUp()
{
    if (m_timer)
        m_timer->stop();
    if (m_root.isEmpty() || m_cleared)
        return;
    m_cleared = true;
    // Every process back where it came from (children it started meanwhile to the top).
    for (const QByteArray &pid :
         readSmall(m_root + QLatin1Char('/') + m_group + QStringLiteral("/cgroup.procs")).split('\n')) {
        const QString text = QString::fromLatin1(pid.trimmed());
        if (!text.isEmpty() && !moveTo(m_origins.value(text, QStringLiteral("/")), text))
            moveTo(QString(), text);
    }
    m_origins.clear();
    QString output;
    runEngineOnce(QStringLiteral("splitter"), serviceArguments(QStringLiteral("stop")), &output);
    QDir(m_root).rmdir(m_group);
}

void BypassGroup::removeLeftovers()
{
    QString error;
    const QString root = cgroupRoot(&error);
    // Groups of helpers that are gone: their processes would bypass the tunnel for good.
    static const QRegularExpression named(QStringLiteral("^tavrixvpn-bypass-([0-9]+)-[0-9]+$"));
    for (const QString &group : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch match = named.match(group);
        if (root.isEmpty() || !match.hasMatch() || QFileInfo::exists(QStringLiteral("/proc/") + match.captured(1)))
            continue;
        for (const QByteArray &pid :
             readSmall(root + QLatin1Char('/') + group + QStringLiteral("/cgroup.procs")).split('\n')) {
            QFile procs(root + QStringLiteral("/cgroup.procs"));
            if (!pid.trimmed().isEmpty() && procs.open(QIODevice::WriteOnly | QIODevice::Append))
                procs.write(pid.trimmed());
        }
        if (QDir(root).rmdir(group))
            qInfo().noquote() << QStringLiteral("Removed the split-tunnel group %1 of an earlier helper").arg(group);
    }
    // Tables and rules in this network namespace: a helper that starts owns none yet.
    QString tables;
    runSystemCommand(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("tables")}, &tables);
    static const QRegularExpression table(QStringLiteral("inet (tavrixvpn_(?:split|outline)_[0-9]+)"));
    for (auto it = table.globalMatch(tables); it.hasNext();) {
        const QString name = it.next().captured(1);
        runSystemCommand(QStringLiteral("nft"),
                         {QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"), name});
        qInfo().noquote() << QStringLiteral("Removed the firewall table %1 of an earlier helper").arg(name);
    }
    // Outline devices whose engine was killed with the helper (their /1 routes go with them).
    QString links;
    runSystemCommand(QStringLiteral("ip"), {QStringLiteral("-o"), QStringLiteral("link"), QStringLiteral("show")},
                     &links);
    static const QRegularExpression link(QStringLiteral("^[0-9]+: (tuntvxol[0-9]+)[:@]"),
                                         QRegularExpression::MultilineOption);
    for (auto it = link.globalMatch(links); it.hasNext();)
        runSystemCommand(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("del"), it.next().captured(1)});
    QString rules;
    runSystemCommand(QStringLiteral("ip"), {QStringLiteral("rule"), QStringLiteral("show")}, &rules);
    static const QRegularExpression rule(QStringLiteral("fwmark (0x[0-9a-f]+) lookup ((?:73|86)[0-6][0-9])\\b"));
    for (auto it = rule.globalMatch(rules); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        runSystemCommand(QStringLiteral("ip"), {QStringLiteral("rule"), QStringLiteral("del"), QStringLiteral("fwmark"),
                                                match.captured(1), QStringLiteral("lookup"), match.captured(2)});
    }
}

} // namespace Tavrix
