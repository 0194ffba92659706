#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "accountapi.h"
#include "accountstore.h"
#include "certificate.h"
#include "controlstate.h"
#include "servercatalog.h"

namespace httplib {
class SSLServer;
struct Request;
struct Response;
} // namespace httplib

namespace Tavrix {
namespace Dev {

// The HTTPS server: configuration sources, account endpoints, pictures, web pages and the
// test switches under /__control/.
class DevServer
{
public:
    struct Options
    {
        QString host = QStringLiteral("127.0.0.1");
        int port = 8443; // 0: any free port
        Certificate certificate;
        QString openConnectServer;
        QString openConnectPin;
        QString openConnectUser;
        QString openConnectPassword;
        QString openVpnServer;
        QString openVpnCaPem;
        QString shadowsocksServer; // HOST:PORT of a real ss-server (chacha20-ietf-poly1305)
        QString shadowsocksPassword;
        QString vmessServer; // HOST:PORT of a real VMess server (TCP)
        QString vmessId;
        QString wireGuardConfig; // the text of --wireguard-config
    };

    explicit DevServer(const Options &options);
    ~DevServer();

    bool bind(QString *error);
    int port() const { return m_port; }
    QString origin() const;
    AccountStore &accounts() { return m_accounts; }

    void run();  // blocks until stop()
    void stop(); // from any thread

private:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;
    void routes();
    void get(const char *pattern, Handler handler);
    void post(const char *pattern, Handler handler);
    Handler guarded(Handler handler);
    Handler account(Reply (AccountApi::*call)(const Call &) const);
    void controlRoutes();
    QString originOf(const httplib::Request &req) const;

    Options m_options;
    int m_port = 0;
    std::unique_ptr<httplib::SSLServer> m_server;
    ControlState m_control;
    AccountStore m_accounts;
    ServerCatalog m_catalog;
    AccountApi m_api;
};

} // namespace Dev
} // namespace Tavrix
