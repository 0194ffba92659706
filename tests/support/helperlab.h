#pragma once

// The privileged helper as installed, without systemd: a private system-type D-Bus daemon on
// a socket under /tmp, polkitd pointed at it (in a mount namespace of its own, where our
// action and a rules file granting the lab's users lie over the host's polkit folders, which
// stay untouched), and the helper as root inside the lab's client namespace, serving on that
// bus with its runtime folder under /tmp. Clients run as ordinary users without any
// capability, in the client namespace, with DBUS_SYSTEM_BUS_ADDRESS pointing at the bus.
//
// Users: "nobody" and "daemon" are granted the tunnel action; "games" is not.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "netns.h"

namespace TavrixTest {

class HelperLab
{
public:
    static constexpr const char *grantedUser = "nobody";
    static constexpr const char *secondUser = "daemon";
    static constexpr const char *refusedUser = "games";

    explicit HelperLab(NetnsLab &lab)
        : m_lab(lab)
        , m_dir(QStringLiteral("/tmp/tvx-helper-%1").arg(getpid()))
    {
    }

    ~HelperLab() { stop(); }

    // Empty when the lab can run here; otherwise why not.
    static QString skipReason()
    {
        for (const char *path :
             {"/usr/bin/dbus-daemon", "/usr/lib/polkit-1/polkitd", "/usr/bin/setpriv", "/usr/bin/unshare"}) {
            if (!QFileInfo(QString::fromLatin1(path)).isExecutable())
                return QStringLiteral("needs %1").arg(QLatin1String(path));
        }
        for (const char *user : {grantedUser, secondUser, refusedUser}) {
            if (!getpwnam(user))
                return QStringLiteral("needs the user %1").arg(QLatin1String(user));
        }
        return QString();
    }

    QString busAddress() const { return QStringLiteral("unix:path=") + m_dir + QStringLiteral("/bus"); }
    QString runtimeDir() const { return m_dir + QStringLiteral("/run"); }
    QString helperLog() const { return m_dir + QStringLiteral("/helper.log"); }
    qint64 helperPid() const { return m_helper ? m_helper->processId() : 0; }
    static QString helperProgram()
    {
        return qEnvironmentVariable("TAVRIX_BIN_DIR") + QStringLiteral("/tavrixvpn-helper");
    }

    // `helperEnvironment` is the helper's own (to show its children never see it).
    bool start(QString *error, const QStringList &helperEnvironment = {})
    {
        stop();
        QDir(m_dir).removeRecursively();
        QDir().mkpath(m_dir);
        ::chmod(QFile::encodeName(m_dir).constData(), 0755);
        const QString source = qEnvironmentVariable("TAVRIX_SOURCE_DIR");
        write(QStringLiteral("bus.conf"),
              busConfig(source + QStringLiteral("/packaging/com.quennark.TavrixVPN.Helper.conf")));
        write(QStringLiteral("50-tavrix-test.rules"),
              QStringLiteral("polkit.addRule(function(action, subject) {\n"
                             "    if (action.id == \"com.quennark.TavrixVPN.tunnel\" &&\n"
                             "        (subject.user == \"%1\" || subject.user == \"%2\"))\n"
                             "        return polkit.Result.YES;\n"
                             "});\n")
                  .arg(QLatin1String(grantedUser), QLatin1String(secondUser))
                  .toUtf8());

        m_bus = startProcess({QStringLiteral("dbus-daemon"), QStringLiteral("--config-file=") + path("bus.conf"),
                              QStringLiteral("--nofork")},
                             path("bus.log"));
        if (!waitFor([this] { return QFileInfo::exists(m_dir + QStringLiteral("/bus")); }))
            return fail(error, QStringLiteral("dbus-daemon did not start, see ") + path("bus.log"));

        // Only inside polkitd's own mount namespace: our action, our rules, nobody else's.
        const QString mounts =
            QStringLiteral("set -e; for d in /usr/share/polkit-1/actions /usr/share/polkit-1/rules.d "
                           "/etc/polkit-1/rules.d; do mount -t tmpfs -o mode=0755 tmpfs \"$d\"; done; "
                           "cp '%1' /usr/share/polkit-1/actions/; cp '%2' /etc/polkit-1/rules.d/; "
                           "exec /usr/lib/polkit-1/polkitd")
                .arg(source + QStringLiteral("/packaging/com.quennark.TavrixVPN.policy"), path("50-tavrix-test.rules"));
        m_polkit = startProcess({QStringLiteral("env"), QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + busAddress(),
                                 QStringLiteral("unshare"), QStringLiteral("-m"), QStringLiteral("--propagation"),
                                 QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"), mounts},
                                path("polkit.log"));
        if (!waitFor([this] { return readFile("polkit.log").contains("Acquired the name"); }))
            return fail(error,
                        QStringLiteral("polkitd did not start: ") + QString::fromLocal8Bit(readFile("polkit.log")));

        return startHelper(error, helperEnvironment);
    }

    // The helper alone, as root in the client namespace (again, after killHelper()).
    bool startHelper(QString *error, const QStringList &helperEnvironment = {})
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
        for (const QString &entry : helperEnvironment)
            environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        QFile::remove(helperLog());
        m_helper = m_lab.start(m_lab.clientNs(),
                               {helperProgram(), QStringLiteral("--bus"), busAddress(), QStringLiteral("--runtime-dir"),
                                runtimeDir(), QStringLiteral("--state-dir"), stateDir()},
                               helperLog(), environment);
        if (!m_helper || !waitFor([this] { return readFile("helper.log").contains("tavrixvpn-helper: ready"); }))
            return fail(error,
                        QStringLiteral("the helper did not start: ") + QString::fromLocal8Bit(readFile("helper.log")));
        return true;
    }

    // A crash of the helper: no chance to tidy up.
    void killHelper()
    {
        if (!m_helper)
            return;
        ::kill(pid_t(m_helper->processId()), SIGKILL);
        m_lab.stop(m_helper);
        m_helper = nullptr;
    }

    void stop()
    {
        if (m_helper)
            m_lab.stop(m_helper);
        m_helper = nullptr;
        for (QProcess **process : {&m_polkit, &m_bus}) {
            if (*process) {
                (*process)->terminate();
                if (!(*process)->waitForFinished(3000))
                    (*process)->kill();
                (*process)->waitForFinished(2000);
                delete *process;
                *process = nullptr;
            }
        }
        QDir(m_dir).removeRecursively();
    }

    // A command as `user` with no capability at all (none permitted, inheritable, ambient or in
    // its bounding set), inside the client namespace, with only the environment given here.
    QStringList asUser(const char *user, const QStringList &command, const QStringList &environment = {}) const
    {
        const passwd *entry = getpwnam(user);
        QStringList full{QStringLiteral("ip"),
                         QStringLiteral("netns"),
                         QStringLiteral("exec"),
                         m_lab.clientNs(),
                         QStringLiteral("setpriv"),
                         QStringLiteral("--reuid=%1").arg(entry ? entry->pw_uid : 65534),
                         QStringLiteral("--regid=%1").arg(entry ? entry->pw_gid : 65534),
                         QStringLiteral("--clear-groups"),
                         QStringLiteral("--inh-caps=-all"),
                         QStringLiteral("--bounding-set=-all"),
                         QStringLiteral("env"),
                         QStringLiteral("-i"),
                         QStringLiteral("PATH=/usr/bin:/bin"),
                         QStringLiteral("HOME=/tmp"),
                         QStringLiteral("QT_QPA_PLATFORM=offscreen"),
                         QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + busAddress(),
                         QStringLiteral("TAVRIX_BIN_DIR=") + qEnvironmentVariable("TAVRIX_BIN_DIR"),
                         QStringLiteral("TAVRIX_SOURCE_DIR=") + qEnvironmentVariable("TAVRIX_SOURCE_DIR")};
        return full + environment + command;
    }

    // The helper's children (the engines it runs), by their parent's pid.
    QList<qint64> helperChildren() const
    {
        QList<qint64> children;
        const qint64 parent = helperPid();
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields.at(1).toLongLong() == parent && parent > 0)
                children.append(entry.toLongLong());
        }
        return children;
    }

    QStringList runtimeFiles() const { return QDir(runtimeDir()).entryList(QDir::Files | QDir::System | QDir::Hidden); }

    QByteArray readFile(const char *name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // kill switch: what the helper keeps across its restarts (the host's /var/lib stays untouched).
    QString stateDir() const { return m_dir + QStringLiteral("/state"); }

private:
    QString path(const char *name) const { return m_dir + QLatin1Char('/') + QLatin1String(name); }
    QString path(const QString &name) const { return m_dir + QLatin1Char('/') + name; }

    void write(const QString &name, const QByteArray &content) const
    {
        QFile file(path(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(content);
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                            QFileDevice::ReadOther);
    }

    // The system bus's own rules (deny by default, method calls only where a policy allows),
    // polkit's policy and the helper's as packaged.
    QByteArray busConfig(const QString &helperPolicy) const
    {
        return QStringLiteral(
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <type>system</type>\n"
                   "  <listen>unix:path=%1/bus</listen>\n"
                   "  <auth>EXTERNAL</auth>\n"
                   "  <policy context=\"default\">\n"
                   "    <allow user=\"*\"/>\n"
                   "    <deny own=\"*\"/>\n"
                   "    <deny send_type=\"method_call\"/>\n"
                   "    <allow send_type=\"signal\"/>\n"
                   "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
                   "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
                   "    <allow receive_type=\"method_call\"/>\n"
                   "    <allow receive_type=\"method_return\"/>\n"
                   "    <allow receive_type=\"error\"/>\n"
                   "    <allow receive_type=\"signal\"/>\n"
                   "    <allow send_destination=\"org.freedesktop.DBus\" send_interface=\"org.freedesktop.DBus\"/>\n"
                   "    <allow send_destination=\"org.freedesktop.DBus\"\n"
                   "           send_interface=\"org.freedesktop.DBus.Introspectable\"/>\n"
                   "  </policy>\n"
                   "  <include>/usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf</include>\n"
                   "  <include>%2</include>\n"
                   "</busconfig>\n")
            .arg(m_dir, helperPolicy)
            .toUtf8();
    }

    QProcess *startProcess(const QStringList &command, const QString &log) const
    {
        auto *process = new QProcess;
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setStandardOutputFile(log, QIODevice::Append);
        process->start(command.first(), command.mid(1));
        process->waitForStarted(5000);
        return process;
    }

    template<typename Check> static bool waitFor(Check check, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!check()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(25);
        }
        return true;
    }

    static bool fail(QString *error, const QString &text)
    {
        if (error)
            *error = text;
        return false;
    }

    NetnsLab &m_lab;
    QString m_dir;
    QProcess *m_bus = nullptr;
    QProcess *m_polkit = nullptr;
    QProcess *m_helper = nullptr;
};

} // namespace TavrixTest
