#pragma once

#include <QString>
#include <QVector>

#include "common/ipbundle.h"

namespace Tavrix {

// What the command line and the running window agree on: the commands, the exit codes and
// how a server is named on the command line.
namespace RemoteCommand {

enum Code { Done = 0, Failed = 1, Usage = 2, NotSignedIn = 3 };

// Request keys: "command" (one of the names below), "server", "search", "on".
constexpr const char Status[] = "status";
constexpr const char Connect[] = "connect";
constexpr const char Disconnect[] = "disconnect";
constexpr const char Servers[] = "servers";
constexpr const char KillSwitch[] = "killswitch";

// The server a command-line argument names among the offered ones: its ip_id, or a text
// found in the name (city), the country, or "name, country". A name equal to the text wins
// over names that only contain it. With several matches candidates lists them and nothing
// is chosen; with none both are empty.
struct ServerMatch
{
    IPBundlePtr chosen;
    QVector<IPBundlePtr> candidates;
};
ServerMatch matchServer(const QVector<IPBundlePtr> &offered, const QString &text);

} // namespace RemoteCommand

} // namespace Tavrix
