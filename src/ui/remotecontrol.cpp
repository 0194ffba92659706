#include "ui/remotecontrol.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QStackedWidget>
#include <QTimer>

#include <algorithm>
#include <memory>

#include "common/config.h"
#include "common/remotecommand.h"
#include "common/user.h"
#include "protection/killswitch.h"
#include "ui/mainwindow.h"
#include "ui/serverpage.h"
#include "ui/servers/connectpage.h"
#include "ui/servers/serverselectionpage.h"
#include "ui/servers/treechilditem.h"
#include "ui/settingitems.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {

namespace {

constexpr int settleStepMs = 200;
// An automatic sign-in at start (a first configuration fetch included) has this long for a
// connect (which started the client itself, maybe); a question is answered sooner.
constexpr int connectSettleAttempts = 45000 / settleStepMs;
constexpr int questionSettleAttempts = 8000 / settleStepMs;
constexpr int connectLimitMs = 80000;
constexpr int disconnectLimitMs = 35000;
// A failed engine start reports its reason just after its status drops back.
constexpr int failureReasonWaitMs = 500;

QJsonObject answer(int code, const QString &message)
{
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
}

const char *stateName(int status)
{
    switch (status) {
    case OpenConnectConnection::CONNECTING:
        return "connecting";
    case OpenConnectConnection::CONNECTED:
        return "connected";
    case OpenConnectConnection::DISCONNECTING:
        return "disconnecting";
    default:
        return "idle";
    }
}

QString protocolName(int type)
{
    switch (type) {
    case OpenConnectConnection::OPENVPN:
        return QStringLiteral("OpenVPN");
    case OpenConnectConnection::OPENCONNECT:
        return QStringLiteral("OpenConnect");
    case OpenConnectConnection::XRAY_SHADOWSOCKS:
        return QStringLiteral("Shadowsocks");
    case OpenConnectConnection::WIREGUARD:
        return QStringLiteral("WireGuard");
    case OpenConnectConnection::V2RAY:
        return QStringLiteral("V2Ray");
    case OpenConnectConnection::OUTLINE:
        return QStringLiteral("Outline");
    default:
        return QStringLiteral("other");
    }
}

QString describe(const IPBundle &bundle)
{
    return QStringLiteral("%1, %2").arg(bundle.ipName(), bundle.countryName());
}

// One answer for many signals: the first caller wins.
struct Once
{
    RemoteControl::Reply reply;
    bool done = false;
    QList<QMetaObject::Connection> connections;
    void finish()
    {
        done = true;
        for (const QMetaObject::Connection &connection : connections)
            QObject::disconnect(connection);
    }
};

} // namespace

RemoteControl::RemoteControl(MainWindow *window)
    : QObject(window)
    , m_window(window)
{
}

void RemoteControl::handle(const QByteArray &request, const Reply &reply)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        reply(answer(RemoteCommand::Usage, QStringLiteral("The command could not be read.")));
        return;
    }
    run(document.object(), reply);
}

void RemoteControl::run(const QJsonObject &request, const Reply &reply)
{
    const QString command = request.value(QStringLiteral("command")).toString();
    qDebug().noquote() << "Command from the command line:" << command.left(20);
    if (command == QLatin1String(RemoteCommand::Disconnect)) {
        disconnect(reply);
        return;
    }
    const bool known =
        command == QLatin1String(RemoteCommand::Status) || command == QLatin1String(RemoteCommand::Servers) ||
        command == QLatin1String(RemoteCommand::Connect) || command == QLatin1String(RemoteCommand::KillSwitch);
    if (!known) {
        reply(answer(RemoteCommand::Usage, QStringLiteral("Unknown command.")));
        return;
    }
    // A client started for this command (or at login) signs in first.
    whenSettled(
        [this, request, command, reply] {
            if (!m_window || !m_window->isSignedIn()) {
                QJsonObject out = answer(RemoteCommand::NotSignedIn,
                                         QStringLiteral("Not signed in: sign in in the TavrixVPN window first."));
                out.insert(QStringLiteral("signed_in"), false);
                out.insert(QStringLiteral("running"), true);
                reply(out);
                return;
            }
            if (command == QLatin1String(RemoteCommand::Status))
                status(reply);
            else if (command == QLatin1String(RemoteCommand::Servers))
                servers(request.value(QStringLiteral("search")).toString().left(200), reply);
            else if (command == QLatin1String(RemoteCommand::Connect))
                connectTo(request.value(QStringLiteral("server")).toString().left(200), reply);
            else
                killSwitch(request.value(QStringLiteral("on")).toBool(), reply);
        },
        command == QLatin1String(RemoteCommand::Connect) ? connectSettleAttempts : questionSettleAttempts);
}

void RemoteControl::whenSettled(const std::function<void()> &then, int attemptsLeft)
{
    if (!m_window || !m_window->isSigningIn() || attemptsLeft <= 0) {
        then();
        return;
    }
    QTimer::singleShot(settleStepMs, this, [this, then, attemptsLeft] { whenSettled(then, attemptsLeft - 1); });
}

QJsonObject RemoteControl::bundleObject(const IPBundle &bundle) const
{
    const IPBundlePtr active = User::instance()->activeBundle();
    const QVector<int> favourites = Config::instance()->favourites();
    return QJsonObject{
        {QStringLiteral("ip_id"), bundle.ip_id()},
        {QStringLiteral("name"), bundle.ipName()},
        {QStringLiteral("country"), bundle.countryName()},
        {QStringLiteral("protocol"), protocolName(bundle.type())},
        {QStringLiteral("transport"), bundle.transmission_protocol()},
        {QStringLiteral("locked"),
         TreeChildItem::lockFor(bundle, User::instance()->is_loyal_user()) != TreeChildItem::Unlocked},
        {QStringLiteral("favourite"), favourites.contains(bundle.ip_id())},
        {QStringLiteral("active"), active && active->ip_id() == bundle.ip_id()},
    };
}

QJsonObject RemoteControl::statusObject() const
{
    QJsonObject out = answer(RemoteCommand::Done, QString());
    out.insert(QStringLiteral("running"), true);
    out.insert(QStringLiteral("pid"), QCoreApplication::applicationPid());
    out.insert(QStringLiteral("signed_in"), m_window && m_window->isSignedIn());
    const int state = OpenConnectConnection::instance()->status();
    out.insert(QStringLiteral("state"), QLatin1String(stateName(state)));
    auto config = Config::instance();
    out.insert(QStringLiteral("kill_switch"), config->killSwitch());
    if (const IPBundlePtr active = User::instance()->activeBundle())
        out.insert(QStringLiteral("server"), bundleObject(*active));
    // What the window shows, so a script sees what the user sees.
    if (ConnectPage *page = m_window ? m_window->serverPage()->connectPage() : nullptr) {
        out.insert(QStringLiteral("protected"), page->pageStatus() == OpenConnectConnection::CONNECTED);
        out.insert(QStringLiteral("protection"), page->protectionText());
        out.insert(QStringLiteral("address"), page->addressText());
        auto *country = page->findChild<QLabel *>(QStringLiteral("lblCountry"));
        auto *city = page->findChild<QLabel *>(QStringLiteral("lblCity"));
        if (country && city)
            out.insert(QStringLiteral("location"), QStringLiteral("%1, %2").arg(city->text(), country->text()));
    }
    return out;
}

void RemoteControl::replyWithStatus(int code, const QString &message, const Reply &reply)
{
    QTimer::singleShot(0, this, [this, code, message, reply] {
        QJsonObject out = statusObject();
        out.insert(QStringLiteral("code"), code);
        out.insert(QStringLiteral("message"), message);
        reply(out);
    });
}

void RemoteControl::status(const Reply &reply)
{
    const QJsonObject out = statusObject();
    QJsonObject withText = out;
    const QJsonObject server = out.value(QStringLiteral("server")).toObject();
    const QString state = out.value(QStringLiteral("state")).toString();
    QString text = state == QLatin1String("connected")    ? QStringLiteral("Connected")
                   : state == QLatin1String("connecting") ? QStringLiteral("Connecting")
                   : state == QLatin1String("idle")       ? QStringLiteral("Not connected")
                                                          : QStringLiteral("Disconnecting");
    withText.insert(QStringLiteral("message"), text + QLatin1Char('.'));
    reply(withText);
}

QVector<IPBundlePtr> RemoteControl::offeredBundles(const QString &search) const
{
    const int protocol = Config::instance()->protocol();
    QVector<IPBundlePtr> offered;
    for (const IPBundlePtr &bundle : User::instance()->bundles()) {
        if (ServerSelectionPage::passesProtocol(*bundle, protocol) &&
            ServerSelectionPage::matchesSearch(*bundle, search))
            offered.append(bundle);
    }
    std::stable_sort(offered.begin(), offered.end(), [](const IPBundlePtr &a, const IPBundlePtr &b) {
        const int byCountry = QString::localeAwareCompare(a->countryName(), b->countryName());
        return byCountry != 0 ? byCountry < 0 : QString::localeAwareCompare(a->ipName(), b->ipName()) < 0;
    });
    return offered;
}

void RemoteControl::servers(const QString &search, const Reply &reply)
{
    QJsonArray list;
    for (const IPBundlePtr &bundle : offeredBundles(search))
        list.append(bundleObject(*bundle));
    QJsonObject out = answer(RemoteCommand::Done, QString());
    if (list.isEmpty())
        out.insert(QStringLiteral("message"), QStringLiteral("No Server Found"));
    out.insert(QStringLiteral("servers"), list);
    reply(out);
}

void RemoteControl::connectTo(const QString &serverText, const Reply &reply)
{
    auto config = Config::instance();
    auto user = User::instance();
    IPBundlePtr chosen;
    if (serverText.trimmed().isEmpty()) {
        chosen = user->activeBundle();
        if (!chosen) {
            reply(answer(RemoteCommand::Failed, QStringLiteral("No server selected: name one.")));
            return;
        }
    } else {
        const RemoteCommand::ServerMatch match = RemoteCommand::matchServer(offeredBundles(QString()), serverText);
        if (!match.chosen) {
            QJsonObject out;
            if (match.candidates.isEmpty()) {
                out = answer(RemoteCommand::Failed,
                             QStringLiteral("No server matches \"%1\" (see \"tavrixvpn servers\").").arg(serverText));
            } else {
                out =
                    answer(RemoteCommand::Failed, QStringLiteral("%1 servers match \"%2\": name one of them by its id.")
                                                      .arg(match.candidates.size())
                                                      .arg(serverText));
                QJsonArray candidates;
                for (const IPBundlePtr &bundle : match.candidates)
                    candidates.append(bundleObject(*bundle));
                out.insert(QStringLiteral("candidates"), candidates);
            }
            reply(out);
            return;
        }
        chosen = match.chosen;
    }
    switch (TreeChildItem::lockFor(*chosen, user->is_loyal_user())) {
    case TreeChildItem::PremiumLock:
        reply(answer(RemoteCommand::Failed, describe(*chosen) + QStringLiteral(" needs a premium account.")));
        return;
    case TreeChildItem::LoyaltyLock:
        reply(answer(RemoteCommand::Failed, describe(*chosen) + QStringLiteral(" needs a loyalty membership.")));
        return;
    default:
        break;
    }

    ServerPage *hub = m_window->serverPage();
    ConnectPage *page = hub->connectPage();
    auto controller = OpenConnectConnection::instance();
    const IPBundlePtr active = user->activeBundle();
    const bool sameServer = active && active->ip_id() == chosen->ip_id();
    if (sameServer && page->pageStatus() == OpenConnectConnection::CONNECTED) {
        replyWithStatus(RemoteCommand::Done, QStringLiteral("Already connected to %1.").arg(describe(*chosen)), reply);
        return;
    }

    auto once = std::make_shared<Once>();
    once->reply = reply;
    const int wanted = chosen->ip_id();
    const QString name = describe(*chosen);
    auto finish = [this, once](int code, const QString &message) {
        if (once->done)
            return;
        once->finish();
        replyWithStatus(code, message, once->reply);
    };
    // Connecting to this server already: wait for it like the user does.
    const bool alreadyStarting = sameServer && page->pageStatus() == OpenConnectConnection::CONNECTING;
    // A tunnel that is up (or coming up) goes down first; that drop is expected.
    auto expectDrop = std::make_shared<bool>(!alreadyStarting && page->pageStatus() != OpenConnectConnection::IDLE);
    once->connections << QObject::connect(
        controller.get(), &OpenConnectConnection::statusChanged, this,
        [this, finish, expectDrop, wanted, name](OpenConnectConnection::Status status) {
            if (status == OpenConnectConnection::CONNECTED) {
                const IPBundlePtr now = User::instance()->activeBundle();
                if (now && now->ip_id() == wanted)
                    finish(RemoteCommand::Done, QStringLiteral("Connected to %1.").arg(name));
            } else if (status == OpenConnectConnection::IDLE) {
                if (*expectDrop) {
                    *expectDrop = false;
                    return;
                }
                QTimer::singleShot(failureReasonWaitMs, this, [finish, name] {
                    finish(RemoteCommand::Failed, QStringLiteral("The connection to %1 failed.").arg(name));
                });
            }
        });
    once->connections << QObject::connect(
        controller.get(), &OpenConnectConnection::connectFailed, this, [finish](const QString &message) {
            finish(RemoteCommand::Failed, QStringLiteral("Connection failed: %1").arg(message));
        });
    once->connections << QObject::connect(page, &ConnectPage::connectRefused, this,
                                          [finish](const QString &reason) { finish(RemoteCommand::Failed, reason); });
    QTimer::singleShot(connectLimitMs, this, [finish, name] {
        finish(RemoteCommand::Failed, QStringLiteral("The connection to %1 did not come up in time.").arg(name));
    });
    if (alreadyStarting)
        return;

    // As a pick in the server list: the choice is stored, the list shows it, the connect
    // screen connects.
    config->setActiveServer(wanted);
    config->save();
    if (auto *list = hub->findChild<ServerSelectionPage *>(QStringLiteral("serverSelectionPage")))
        list->favoriteButtonChange();
    hub->connectToChosenServer();
}

void RemoteControl::disconnect(const Reply &reply)
{
    ConnectPage *page = m_window ? m_window->serverPage()->connectPage() : nullptr;
    auto controller = OpenConnectConnection::instance();
    if (!page ||
        (page->pageStatus() == OpenConnectConnection::IDLE && controller->status() == OpenConnectConnection::IDLE)) {
        replyWithStatus(RemoteCommand::Done, QStringLiteral("Not connected."), reply);
        return;
    }
    auto once = std::make_shared<Once>();
    once->reply = reply;
    auto finish = [this, once](int code, const QString &message) {
        if (once->done)
            return;
        once->finish();
        replyWithStatus(code, message, once->reply);
    };
    once->connections << QObject::connect(controller.get(), &OpenConnectConnection::statusChanged, this,
                                          [finish](OpenConnectConnection::Status status) {
                                              if (status == OpenConnectConnection::IDLE)
                                                  finish(RemoteCommand::Done, QStringLiteral("Disconnected."));
                                          });
    QTimer::singleShot(disconnectLimitMs, this, [finish] {
        finish(RemoteCommand::Failed, QStringLiteral("The tunnel did not go down in time."));
    });
    // The connect button: while connecting or connected a press disconnects.
    if (page->pageStatus() != OpenConnectConnection::IDLE)
        page->btnConnect_clicked();
    else
        controller->disconnectVpn();
}

void RemoteControl::killSwitch(bool on, const Reply &reply)
{
    auto config = Config::instance();
    config->load();
    if (config->killSwitch() == on) {
        replyWithStatus(RemoteCommand::Done,
                        on ? QStringLiteral("The kill switch is already on.")
                           : QStringLiteral("The kill switch is already off."),
                        reply);
        return;
    }
    auto *item = m_window->findChild<SettingKillSwitch *>(QStringLiteral("killSwithch"));
    const bool now = item ? item->toggle() : KillSwitch::toggle();
    replyWithStatus(now == on ? RemoteCommand::Done : RemoteCommand::Failed,
                    now ? QStringLiteral("Kill switch on.") : QStringLiteral("Kill switch off."), reply);
}

} // namespace Tavrix
