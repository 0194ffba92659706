#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace Tavrix {

// What the two Xray runners share: where the engine and its configuration live, the checks
// that the engine really carries traffic before the system proxy points at it, and the
// system proxy itself.
namespace Xray {

// The local HTTP inbound the system proxy points at.
constexpr quint16 httpPort = 10809;
QString proxyServer(); // "127.0.0.1:10809"

// The engine program's Windows name, for EngineProcesses.
QString engineName();
// The engine configuration file, "<engine folder>/config.json".
QString configPath();

enum class WriteResult { Written, NoFolder, NotOpened, NoPermissions };
// Writes `document` (indented) to the configuration file. The file is owner-only before any
// content is in it: it holds the server's password or id.
WriteResult writeConfig(const QJsonObject &document);

// Makes room for a new engine: stops one of ours left running and checks that nothing else
// listens on the inbound port. False (with *error) when the port stays taken.
bool freeInboundPort(QString *error);

// Waits until the local HTTP inbound accepts a connection. Gives up early when `alive`
// returns false (the engine ended, or the connect was cancelled).
bool waitForInbound(int timeoutMs, const std::function<bool()> &alive);

// One request through the local inbound to the service's own public-IP lookup (the address
// the connect page shows), bounded by timeoutMs. True once the service answers: the server is
// there and accepted our credentials (with a wrong password or id the request hangs or the
// connection closes). Otherwise false, with *error saying what failed. A service on this
// machine (a development set-up) cannot be reached through a remote server: then only the
// inbound is required.
bool checkThroughProxy(int timeoutMs, const std::function<bool()> &alive, QString *error);
// The same request, through the inbound (throughInbound) or straight out, where the system's
// routes lead through a tunnel (Outline). The running proxies' liveness check.
bool checkService(int timeoutMs, const std::function<bool()> &alive, bool throughInbound, QString *error);

// The system proxy, with a log line saying where the change took effect.
bool switchProxyOn();
void switchProxyOff();
// Whether the system proxy points at our inbound.
bool proxyIsOurs();

// At start-up: a proxy left pointing at our inbound while no engine of ours runs (the client
// ended while connected) cuts the desktop off the network; switch it off and say so.
void clearStaleSystemProxy();

// `text` with every secret replaced, for log lines that may quote the configuration.
QString maskSecrets(QString text, const QStringList &secrets);

} // namespace Xray
} // namespace Tavrix
