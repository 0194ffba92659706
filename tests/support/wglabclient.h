#pragma once

// The client's side of the WireGuard lab (wglab.h), for programs that link the client's core:
// the process runs itself again inside the lab's client namespace (where the tunnel goes up),
// and there signs in to the development service and selects a WireGuard server of the account.

#include <QSettings>

#include "api/apirequest.h"
#include "common/config.h"
#include "common/user.h"
#include "devservice.h"
#include "vpn/openconnectconnection.h"
#include "wglab.h"

namespace TavrixTest {

// Environment that carries the lab to the copy inside the client namespace.
inline constexpr const char *wgInsideVariable = "TAVRIX_WG_INSIDE";
inline constexpr const char *wgConfigVariable = "TAVRIX_WG_CONFIG_FILE";

inline bool runningInsideClientNs()
{
    return qEnvironmentVariableIsSet(wgInsideVariable);
}

// Runs this program again inside the client namespace with the peer's client configuration
// in a file; its output goes to ours. Returns its exit code (-1 on time-out).
inline int runInsideClientNs(NetnsLab &lab, const WireGuardPeer &peer, const QStringList &arguments, int timeoutMs)
{
    const QString configFile = lab.dir() + QStringLiteral("/client-wireguard.conf");
    QFile file(configFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(peer.clientConfig().toLatin1());
    file.close();
    qputenv(wgInsideVariable, lab.serverNs().toLocal8Bit());
    qputenv(wgConfigVariable, configFile.toLocal8Bit());
    QByteArray output;
    const int code =
        lab.exec(lab.clientNs(), QStringList{QCoreApplication::applicationFilePath()} + arguments, &output, timeoutMs);
    fwrite(output.constData(), 1, size_t(output.size()), stdout);
    fflush(stdout);
    qunsetenv(wgInsideVariable);
    return code;
}

// Inside the client namespace: the development service handing out the peer's configuration,
// signed in as a premium account, a WireGuard server selected. Returns that server's entry, or
// null with *error set.
inline Tavrix::IPBundlePtr signInToWireGuardServer(DevService &service, QString *error)
{
    using namespace Tavrix;
    if (!service.start({QStringLiteral("--wireguard-config"), qEnvironmentVariable(wgConfigVariable)})) {
        *error = QStringLiteral("the development service did not start");
        return nullptr;
    }
    service.exportEnvironment();
    // As the connect page hands it to the controller.
    OpenConnectConnection::instance()->setWireGuardConfigFetch([](int vpnServerId, int ipId, int connectionType) {
        return ApiRequest().wireGuardConfig(vpnServerId, ipId, connectionType);
    });
    const QString user = QStringLiteral("premium@tavrixvpn.test");
    const QString password = QStringLiteral("premiumpass1");
    if (ApiRequest::instance()->login(user, password) != ApiRequest::LoginSuccess) {
        *error = QStringLiteral("sign-in failed: ") + ApiRequest::instance()->errorMessage();
        return nullptr;
    }
    const std::shared_ptr<Config> config = Config::instance();
    config->setUserName(user, true);
    config->setPassword(password, true);
    for (const IPBundlePtr &entry : User::instance()->bundles()) {
        if (entry->type() == 5 && !entry->isLoyalUserServer() && !entry->isPlaceholderAddress()) {
            config->setActiveServer(entry->ip_id());
            config->save();
            return entry;
        }
    }
    *error = QStringLiteral("the account has no WireGuard server");
    return nullptr;
}

} // namespace TavrixTest
