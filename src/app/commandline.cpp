#include "app/commandline.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <cstring>

#include "app/instancechannel.h"
#include "common/remotecommand.h"

namespace Tavrix {

namespace {

// A connect waits for the tunnel; a freshly started instance also signs in first.
constexpr int connectTimeoutMs = 90000;
constexpr int disconnectTimeoutMs = 40000;
constexpr int shortTimeoutMs = 15000;
// A started instance has this long to take the lock and listen.
constexpr int startTimeoutMs = 20000;

const char *const commands[] = {RemoteCommand::Status, RemoteCommand::Connect, RemoteCommand::Disconnect,
                                RemoteCommand::Servers, RemoteCommand::KillSwitch};

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    fflush(stream);
}

int usageError(const QString &why)
{
    print(stderr, QStringLiteral("tavrixvpn: %1\nTry 'tavrixvpn --help'.").arg(why));
    return RemoteCommand::Usage;
}

// The request for the arguments after the program name; empty with *code set on a usage error.
QJsonObject parseRequest(QStringList arguments, int *code)
{
    *code = RemoteCommand::Done;
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    QJsonObject request{{QStringLiteral("command"), command}};
    for (const QString &argument : arguments) {
        if (argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("--search")) {
            *code = usageError(QStringLiteral("unknown option %1").arg(argument));
            return {};
        }
    }
    if (command == QLatin1String(RemoteCommand::Status) || command == QLatin1String(RemoteCommand::Disconnect)) {
        if (!arguments.isEmpty()) {
            *code = usageError(QStringLiteral("%1 takes no arguments").arg(command));
            return {};
        }
    } else if (command == QLatin1String(RemoteCommand::Connect)) {
        // "connect New York" without quotes names one server.
        if (!arguments.isEmpty())
            request.insert(QStringLiteral("server"), arguments.join(QLatin1Char(' ')));
    } else if (command == QLatin1String(RemoteCommand::Servers)) {
        if (!arguments.isEmpty()) {
            if (arguments.size() < 2 || arguments.first() != QLatin1String("--search")) {
                *code = usageError(QStringLiteral("servers takes only --search TEXT"));
                return {};
            }
            request.insert(QStringLiteral("search"), arguments.mid(1).join(QLatin1Char(' ')));
        }
    } else if (command == QLatin1String(RemoteCommand::KillSwitch)) {
        if (arguments.size() != 1 ||
            (arguments.first() != QLatin1String("on") && arguments.first() != QLatin1String("off"))) {
            *code = usageError(QStringLiteral("killswitch takes on or off"));
            return {};
        }
        request.insert(QStringLiteral("on"), arguments.first() == QLatin1String("on"));
    } else {
        *code = usageError(QStringLiteral("unknown command %1").arg(command));
        return {};
    }
    return request;
}

QString serverText(const QJsonObject &server)
{
    return QStringLiteral("%1, %2 (server %3, %4)")
        .arg(server.value(QStringLiteral("name")).toString(), server.value(QStringLiteral("country")).toString())
        .arg(server.value(QStringLiteral("ip_id")).toInt())
        .arg(server.value(QStringLiteral("protocol")).toString());
}

void printServers(const QJsonArray &servers)
{
    int nameWidth = 4;
    int countryWidth = 7;
    for (const QJsonValue &value : servers) {
        nameWidth = qMax(nameWidth, value.toObject().value(QStringLiteral("name")).toString().size());
        countryWidth = qMax(countryWidth, value.toObject().value(QStringLiteral("country")).toString().size());
    }
    print(stdout, QStringLiteral("%1  %2  %3  %4  %5")
                      .arg(QStringLiteral("ID"), 6)
                      .arg(QStringLiteral("NAME"), -nameWidth)
                      .arg(QStringLiteral("COUNTRY"), -countryWidth)
                      .arg(QStringLiteral("PROTOCOL"), -10)
                      .arg(QStringLiteral("NOTE"))
                      .trimmed());
    for (const QJsonValue &value : servers) {
        const QJsonObject server = value.toObject();
        QStringList notes;
        if (server.value(QStringLiteral("active")).toBool())
            notes << QStringLiteral("selected");
        if (server.value(QStringLiteral("favourite")).toBool())
            notes << QStringLiteral("favourite");
        if (server.value(QStringLiteral("locked")).toBool())
            notes << QStringLiteral("locked");
        print(stdout, QStringLiteral("%1  %2  %3  %4  %5")
                          .arg(server.value(QStringLiteral("ip_id")).toInt(), 6)
                          .arg(server.value(QStringLiteral("name")).toString(), -nameWidth)
                          .arg(server.value(QStringLiteral("country")).toString(), -countryWidth)
                          .arg(server.value(QStringLiteral("protocol")).toString(), -10)
                          .arg(notes.join(QStringLiteral(", ")))
                          .trimmed());
    }
}

void printStatus(const QJsonObject &answer)
{
    const QJsonObject server = answer.value(QStringLiteral("server")).toObject();
    if (!server.isEmpty())
        print(stdout, QStringLiteral("Server:      ") + serverText(server));
    print(stdout, QStringLiteral("Protection:  ") + answer.value(QStringLiteral("protection")).toString());
    const QString address = answer.value(QStringLiteral("address")).toString();
    if (!address.isEmpty())
        print(stdout, QStringLiteral("Address:     ") + address);
    print(stdout,
          QStringLiteral("Kill switch: ") +
              (answer.value(QStringLiteral("kill_switch")).toBool() ? QStringLiteral("on") : QStringLiteral("off")));
}

int printAnswer(const QString &command, const QJsonObject &answer, bool json)
{
    const int code = answer.value(QStringLiteral("code")).toInt(RemoteCommand::Failed);
    if (json) {
        print(stdout, QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Indented)).trimmed());
        return code;
    }
    const QString message = answer.value(QStringLiteral("message")).toString();
    if (!message.isEmpty())
        print(code == RemoteCommand::Done ? stdout : stderr, message);
    const QJsonArray candidates = answer.value(QStringLiteral("candidates")).toArray();
    for (const QJsonValue &candidate : candidates)
        print(stderr, QStringLiteral("  ") + serverText(candidate.toObject()));
    if (code != RemoteCommand::Done)
        return code;
    if (command == QLatin1String(RemoteCommand::Servers))
        printServers(answer.value(QStringLiteral("servers")).toArray());
    else if (command == QLatin1String(RemoteCommand::Status))
        printStatus(answer);
    return code;
}

int notRunning(const QString &command, bool json)
{
    // Nothing runs, so no tunnel of this client is up: a disconnect has nothing to do.
    const bool done = command == QLatin1String(RemoteCommand::Disconnect);
    const int code = done ? RemoteCommand::Done : RemoteCommand::Failed;
    const QString message = QStringLiteral("TavrixVPN is not running.");
    if (json) {
        const QJsonObject answer{{QStringLiteral("code"), code},
                                 {QStringLiteral("running"), false},
                                 {QStringLiteral("state"), QStringLiteral("idle")},
                                 {QStringLiteral("message"), message}};
        print(stdout, QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Indented)).trimmed());
    } else {
        print(done ? stdout : stderr, message);
    }
    return code;
}

// Starts the client minimized, its output away from ours: a caller reading our output to its
// end must not wait for the client's.
bool startInstance()
{
    QProcess process;
    process.setProgram(QCoreApplication::applicationFilePath());
    process.setArguments({QStringLiteral("--minimized")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace

bool isCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--json") == 0)
            continue;
        for (const char *command : commands) {
            if (qstrcmp(argv[i], command) == 0)
                return true;
        }
        return false;
    }
    return false;
}

bool takeOption(int &argc, char **argv, const char *option)
{
    bool found = false;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], option) == 0) {
            found = true;
            continue;
        }
        argv[out++] = argv[i];
    }
    argc = out;
    argv[argc] = nullptr;
    return found;
}

int runCommandLine(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const bool json = arguments.removeAll(QStringLiteral("--json")) > 0;
    int code = RemoteCommand::Done;
    const QJsonObject request = parseRequest(arguments, &code);
    if (request.isEmpty())
        return code;
    const QString command = request.value(QStringLiteral("command")).toString();
    const int timeoutMs = command == QLatin1String(RemoteCommand::Connect)      ? connectTimeoutMs
                          : command == QLatin1String(RemoteCommand::Disconnect) ? disconnectTimeoutMs
                                                                                : shortTimeoutMs;
    const QString message = QLatin1String(InstanceChannel::commandPrefix) +
                            QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact));

    QByteArray reply;
    InstanceChannel::Outcome outcome = InstanceChannel::send(message, timeoutMs, &reply);
    if (outcome == InstanceChannel::Outcome::NotRunning) {
        if (command != QLatin1String(RemoteCommand::Connect))
            return notRunning(command, json);
        if (!startInstance()) {
            print(stderr, QStringLiteral("TavrixVPN could not be started."));
            return RemoteCommand::Failed;
        }
        const QDeadlineTimer started(startTimeoutMs);
        do {
            QThread::msleep(100);
            outcome = InstanceChannel::send(message, timeoutMs, &reply);
        } while (outcome == InstanceChannel::Outcome::NotRunning && !started.hasExpired());
    }
    if (outcome != InstanceChannel::Outcome::Delivered) {
        print(stderr, outcome == InstanceChannel::Outcome::NotRunning
                          ? QStringLiteral("TavrixVPN did not start.")
                          : QStringLiteral("TavrixVPN runs but did not answer (a version without commands, or busy)."));
        return RemoteCommand::Failed;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        print(stderr, QStringLiteral("TavrixVPN gave an answer that could not be read."));
        return RemoteCommand::Failed;
    }
    return printAnswer(command, document.object(), json);
}

const char *commandLineUsage()
{
    return "Usage: tavrixvpn [--minimized] [tavrixvpn://login?authenticate=EMAIL&value=PASSWORD]\n"
           "       tavrixvpn [--json] COMMAND [ARGUMENTS]\n"
           "The TavrixVPN client. Without a command it opens the window (or brings the running one to\n"
           "the front); with a login link it signs in with the link's account.\n"
           "\n"
           "Commands (answered by the running client; the window follows):\n"
           "  status                  connection state, server, address and kill switch\n"
           "  connect [SERVER]        connect to SERVER, or to the selected server; starts the client\n"
           "                          minimized when it is not running\n"
           "  disconnect              end the connection\n"
           "  servers [--search TEXT] the servers the server list offers, or those whose name or\n"
           "                          country contains TEXT\n"
           "  killswitch on|off       turn the kill switch on or off\n"
           "SERVER is a server id (the ID column of \"servers\") or a text found in the server's name\n"
           "or country; a text that fits several servers lists them and connects to none.\n"
           "\n"
           "Options:\n"
           "  --json       machine-readable output (one JSON object)\n"
           "  --minimized  start minimized (as the start at login does)\n"
           "  --help       this text\n"
           "  --version    the version\n"
           "Qt's own options (-platform, -style, -display, ...) are accepted too.\n"
           "\n"
           "Exit status: 0 done, 1 failed (or the client is not running), 2 wrong usage,\n"
           "3 not signed in.\n";
}

} // namespace Tavrix
