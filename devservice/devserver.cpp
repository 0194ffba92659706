#include "devserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

#include <httplib.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include "accountreplies.h"
#include "common/crypto.h"
#include "configdocuments.h"
#include "endpoints.h"
#include "pictures.h"
#include "wire.h"

namespace Tavrix {
namespace Dev {

namespace {

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

// application/x-www-form-urlencoded, decoded as web servers do ("+" is a space).
QMap<QString, QString> parseForm(const std::string &text)
{
    QMap<QString, QString> out;
    for (const QByteArray &pair : QByteArray::fromStdString(text).split('&')) {
        if (pair.isEmpty())
            continue;
        const int eq = pair.indexOf('=');
        QByteArray name = eq < 0 ? pair : pair.left(eq);
        QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        name.replace('+', ' ');
        value.replace('+', ' ');
        out.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
                   QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return out;
}

QMap<QString, QString> queryOf(const httplib::Request &req)
{
    const auto q = req.target.find('?');
    return q == std::string::npos ? QMap<QString, QString>() : parseForm(req.target.substr(q + 1));
}

QMap<QString, QString> formOf(const httplib::Request &req)
{
    const std::string type = req.get_header_value("Content-Type");
    if (type.find("application/x-www-form-urlencoded") == std::string::npos)
        return {};
    return parseForm(req.body);
}

// httplib adds the socket's addresses as pseudo-headers; they are not what the client sent.
bool isPseudoHeader(const std::string &name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

QJsonObject toJson(const QMap<QString, QString> &map)
{
    QJsonObject out;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        out.insert(it.key(), it.value());
    return out;
}

int socketOf(const httplib::Request &req)
{
    return req.ssl ? SSL_get_fd(req.ssl) : -1;
}

// Ends the connection under the request: the client sees it closed with no reply.
void dropConnection(const httplib::Request &req)
{
    const int fd = socketOf(req);
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

bool peerGone(const httplib::Request &req)
{
    const int fd = socketOf(req);
    if (fd < 0)
        return true;
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

QString defaultMessage(int status)
{
    switch (status) {
    case 401:
        return QStringLiteral("Unauthenticated.");
    case 403:
        return QStringLiteral("Access denied.");
    case 404:
        return QStringLiteral("Not found.");
    case 422:
        return QStringLiteral("The given data was invalid.");
    case 429:
        return QStringLiteral("Too many requests.");
    case 500:
        return QStringLiteral("Server error.");
    case 502:
        return QStringLiteral("Bad gateway.");
    case 503:
        return QStringLiteral("Service temporarily unavailable.");
    }
    return QStringLiteral("Error %1").arg(status);
}

void send(httplib::Response &res, const Reply &reply)
{
    res.status = reply.status;
    res.set_content(reply.body.toStdString(), reply.contentType.constData());
}

void sendJson(httplib::Response &res, const QJsonObject &object)
{
    res.status = 200;
    res.set_content(asciiJson(object).toStdString(), "application/json; charset=UTF-8");
}

// A small page for every address the client opens in the browser.
QString page(const QString &title, const QString &bodyHtml)
{
    return QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><title>%1 - TavrixVPN</title>"
                          "<style>body{font-family:sans-serif;max-width:40em;margin:3em auto;color:#222}"
                          "h1{color:#be1e2d}code{background:#eee;padding:0 .3em}</style></head>"
                          "<body><h1>%1</h1>%2<p><small>TavrixVPN development service</small></p></body></html>")
        .arg(title.toHtmlEscaped(), bodyHtml);
}

// Describes the sign-in token a purchase or banner link carries.
QString tokenSummary(const httplib::Request &req)
{
    const QString token = queryOf(req).value(QStringLiteral("authToken"));
    if (token.isEmpty())
        return QStringLiteral("<p>No sign-in token: you would be asked to sign in.</p>");
    const QJsonObject t = QJsonDocument::fromJson(decode(token, CodecKey::link()).toUtf8()).object();
    if (t.isEmpty())
        return QStringLiteral("<p>The sign-in token cannot be read.</p>");
    const qint64 ttl = t.value(QStringLiteral("ttl")).toString().toLongLong();
    const bool fresh = ttl > QDateTime::currentMSecsSinceEpoch();
    return QStringLiteral("<p>Signed in as <b>%1</b> (token %2).</p>")
        .arg(t.value(QStringLiteral("username")).toString().toHtmlEscaped(),
             fresh ? QStringLiteral("valid") : QStringLiteral("expired"));
}

ServerCatalog::Options catalogOptions(const DevServer::Options &options)
{
    ServerCatalog::Options catalog;
    catalog.openConnectServer = options.openConnectServer;
    catalog.openConnectPin = options.openConnectPin;
    catalog.caPem = options.certificate.pem;
    catalog.shadowsocksServer = options.shadowsocksServer;
    catalog.shadowsocksPassword = options.shadowsocksPassword;
    catalog.vmessServer = options.vmessServer;
    catalog.vmessId = options.vmessId;
    catalog.openVpnServer = options.openVpnServer;
    catalog.openVpnCaPem = options.openVpnCaPem;
    catalog.wireGuardConfig = options.wireGuardConfig;
    return catalog;
}

} // namespace

DevServer::DevServer(const Options &options)
    : m_options(options)
    , m_catalog(catalogOptions(options))
    , m_api(m_accounts, m_catalog)
{
    if (!options.openConnectUser.isEmpty())
        m_accounts.addPremium(options.openConnectUser, options.openConnectPassword,
                              QStringLiteral("premium, credentials of the OpenConnect server"));
    m_server = std::make_unique<httplib::SSLServer>(options.certificate.certPath.toLocal8Bit().constData(),
                                                    options.certificate.keyPath.toLocal8Bit().constData());
    // Every open connection holds a thread, and "never" holds one per request: leave room.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(128); };
    // Closing a kept-alive connection after a few requests makes clients see spurious
    // "remote host closed" errors; keep it open until it idles out.
    m_server->set_keep_alive_max_count(100000);
    m_server->set_tcp_nodelay(true);
    routes();
}

DevServer::~DevServer() = default;

bool DevServer::bind(QString *error)
{
    if (!m_server->is_valid()) {
        *error = QStringLiteral("the certificate or key cannot be loaded");
        return false;
    }
    const std::string host = m_options.host.toStdString();
    if (m_options.port == 0) {
        m_port = m_server->bind_to_any_port(host);
    } else {
        m_port = m_server->bind_to_port(host, m_options.port) ? m_options.port : -1;
    }
    if (m_port <= 0) {
        *error = QStringLiteral("cannot listen on %1:%2").arg(m_options.host).arg(m_options.port);
        return false;
    }
    return true;
}

QString DevServer::origin() const
{
    return QStringLiteral("https://%1:%2").arg(m_options.host).arg(m_port);
}

QString DevServer::originOf(const httplib::Request &req) const
{
    const std::string host = req.get_header_value("Host");
    return host.empty() ? origin() : QStringLiteral("https://") + qs(host);
}

void DevServer::run()
{
    m_server->listen_after_bind();
}

void DevServer::stop()
{
    m_control.stop();
    m_server->stop();
}

void DevServer::get(const char *pattern, Handler handler)
{
    m_server->Get(pattern, guarded(std::move(handler)));
}

void DevServer::post(const char *pattern, Handler handler)
{
    m_server->Post(pattern, guarded(std::move(handler)));
}

// Every request except the control ones is logged and then subjected to its path's switch.
DevServer::Handler DevServer::guarded(Handler handler)
{
    return [this, handler](const httplib::Request &req, httplib::Response &res) {
        QJsonObject headers;
        for (const auto &h : req.headers) {
            if (!isPseudoHeader(h.first))
                headers.insert(qs(h.first), qs(h.second));
        }
        const QString path = qs(req.path);
        m_control.record(QJsonObject{{QStringLiteral("method"), qs(req.method)},
                                     {QStringLiteral("path"), path},
                                     {QStringLiteral("query"), toJson(queryOf(req))},
                                     {QStringLiteral("form"), toJson(formOf(req))},
                                     {QStringLiteral("headers"), headers},
                                     {QStringLiteral("body"), qs(req.body)}});

        const ControlState::Behaviour b = m_control.behaviourFor(path);
        switch (b.mode) {
        case ControlState::Mode::Normal:
            break;
        case ControlState::Mode::Down:
            dropConnection(req);
            return;
        case ControlState::Mode::Slow:
            m_control.sleepFor(std::chrono::milliseconds(b.delayMs), [] { return false; });
            break;
        case ControlState::Mode::Never:
            m_control.sleepFor(std::chrono::minutes(10), [&] {
                return peerGone(req) || m_control.behaviourFor(path).mode != ControlState::Mode::Never;
            });
            dropConnection(req);
            return;
        case ControlState::Mode::Empty:
            res.status = 200;
            res.set_content(std::string(), "application/json");
            return;
        case ControlState::Mode::Malformed:
            res.status = 200;
            res.set_content("{\"fields\": {\"app_id\": {\"stringValue\": ", "application/json");
            return;
        case ControlState::Mode::Body:
            res.status = b.status ? b.status : 200;
            res.set_content(b.body.toStdString(), "application/json");
            return;
        case ControlState::Mode::Status:
            res.status = b.status;
            res.set_content(messageBody(b.message.isEmpty() ? defaultMessage(b.status) : b.message).toStdString(),
                            "application/json");
            return;
        }
        handler(req, res);
    };
}

DevServer::Handler DevServer::account(Reply (AccountApi::*call)(const Call &) const)
{
    return [this, call](const httplib::Request &req, httplib::Response &res) {
        Call c;
        c.path = qs(req.path);
        c.form = formOf(req);
        for (const auto &h : req.headers) {
            if (!isPseudoHeader(h.first))
                c.headers.insert(qs(h.first).toLower(), qs(h.second));
        }
        c.origin = originOf(req);
        c.remoteAddress = qs(req.remote_addr);
        send(res, (m_api.*call)(c));
    };
}

void DevServer::routes()
{
    controlRoutes();

    // Configuration sources. Any project and document id is accepted for the Firestore pair.
    get(R"(/v1/projects/([^/]+)/databases/\(default\)/documents/global/([^/]+))",
        [this](const httplib::Request &req, httplib::Response &res) {
            sendJson(res, ConfigDocuments(originOf(req)).firestoreDocument(qs(req.matches[1]), qs(req.matches[2])));
        });
    get(R"(/v1/projects/([^/]+)/databases/\(default\)/documents/global/([^/]+)/apis/?)",
        [this](const httplib::Request &req, httplib::Response &res) {
            sendJson(res, ConfigDocuments(originOf(req)).firestoreListing(qs(req.matches[1]), qs(req.matches[2])));
        });
    for (const char *path : {Path::proxyMain, Path::directMain}) {
        get(path, [this](const httplib::Request &req, httplib::Response &res) {
            sendJson(res, ConfigDocuments(originOf(req)).relayMain());
        });
    }
    for (const char *path : {Path::proxyCountry, Path::directCountry}) {
        get(path, [this](const httplib::Request &req, httplib::Response &res) {
            sendJson(res, ConfigDocuments(originOf(req)).relayCountry());
        });
    }

    // Account endpoints; sign-in and sign-up also under the per-country addresses.
    post(R"(/api/v2/login(/[a-z]{2})?)", account(&AccountApi::login));
    post(R"(/api/v2/signup(/[a-z]{2})?)", account(&AccountApi::signUp));
    post(Path::forgotPassword, account(&AccountApi::forgotPassword));
    post(Path::newsletter, account(&AccountApi::newsletter));
    post(Path::voucher, account(&AccountApi::redeemVoucher));
    post(Path::devices, account(&AccountApi::devices));
    post(Path::referInfo, account(&AccountApi::referInfo));
    post(Path::referSubmit, account(&AccountApi::referSubmit));
    post(Path::darkWeb, account(&AccountApi::darkWeb));
    post(Path::purchaseHistory, account(&AccountApi::purchaseHistory));
    post(Path::wireGuard, account(&AccountApi::wireGuard));
    get(Path::publicIp, account(&AccountApi::publicIp));

    // Pictures.
    get(R"(/media/banners/banner-(\d+)\.png)", [](const httplib::Request &req, httplib::Response &res) {
        const QByteArray png = bannerPng(qs(req.matches[1]).toInt());
        if (png.isEmpty()) {
            res.status = 404;
            return;
        }
        res.set_content(png.toStdString(), "image/png");
    });
    get(Path::features, [](const httplib::Request &, httplib::Response &res) {
        res.set_content(featuresPng().toStdString(), "image/png");
    });

    // Web pages the client opens in the browser.
    get(R"(/shop/checkout/([0-9.e+]+))", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content(
            page(QStringLiteral("Checkout"),
                 QStringLiteral("<p>Package %1.</p>").arg(qs(req.matches[1]).toHtmlEscaped()) + tokenSummary(req))
                .toStdString(),
            "text/html; charset=utf-8");
    });
    get("/social-auth-attempt", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(
            page(QStringLiteral("Sign in with Google"),
                 QStringLiteral(
                     "<p>Development sign-in: "
                     "<a href=\"tavrixvpn://login?authenticate=premium@tavrixvpn.test&amp;value=premium/pass1\">"
                     "continue as premium@tavrixvpn.test</a></p>"))
                .toStdString(),
            "text/html; charset=utf-8");
    });
    get(R"(/(offers/[a-z-]+|features|loyalty-member/?|buy-vpn-for-friends-and-family/?|download|pricing|rate-us|)?)",
        [](const httplib::Request &req, httplib::Response &res) {
            const QString name = qs(req.path).mid(1).section(QLatin1Char('/'), -2, -1, QString::SectionSkipEmpty);
            res.set_content(page(name.isEmpty() ? QStringLiteral("TavrixVPN") : name, tokenSummary(req)).toStdString(),
                            "text/html; charset=utf-8");
        });

    // Anything else: a JSON 404, still logged and subject to the switches.
    auto notFound = [](const httplib::Request &, httplib::Response &res) {
        res.status = 404;
        res.set_content(messageBody(QStringLiteral("Not found.")).toStdString(), "application/json");
    };
    get(".*", notFound);
    post(".*", notFound);
}

void DevServer::controlRoutes()
{
    m_server->Post("/__control/set", [this](const httplib::Request &req, httplib::Response &res) {
        const QMap<QString, QString> form = formOf(req);
        ControlState::Behaviour b;
        const QString path = form.value(QStringLiteral("path"));
        if (path.isEmpty() ||
            !ControlState::parseMode(form.value(QStringLiteral("mode"), QStringLiteral("normal")), &b.mode)) {
            res.status = 422;
            res.set_content(messageBody(QStringLiteral("path and a known mode are required")).toStdString(),
                            "application/json");
            return;
        }
        b.status = form.value(QStringLiteral("status")).toInt();
        b.delayMs = form.value(QStringLiteral("delay_ms")).toInt();
        b.message = form.value(QStringLiteral("message"));
        b.body = form.value(QStringLiteral("body")).toUtf8();
        const bool needsStatus =
            b.mode == ControlState::Mode::Status || (b.mode == ControlState::Mode::Body && b.status);
        if (needsStatus && (b.status < 100 || b.status > 599)) {
            res.status = 422;
            res.set_content(messageBody(QStringLiteral("status must be an HTTP status")).toStdString(),
                            "application/json");
            return;
        }
        m_control.set(path, b);
        res.set_content("ok", "text/plain");
    });
    m_server->Post("/__control/reset", [this](const httplib::Request &, httplib::Response &res) {
        m_control.reset();
        m_accounts.reset();
        res.set_content("ok", "text/plain");
    });
    m_server->Get("/__control/requests", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(asciiJson(m_control.requests()).toStdString(), "application/json");
    });
}

} // namespace Dev
} // namespace Tavrix
