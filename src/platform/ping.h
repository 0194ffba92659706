#pragma once

#include <QString>
#include <QStringList>

class QProcess;

namespace Tavrix {

// The system's "ping": one echo to a host, and the average round trip read back from its
// summary. Windows ends with "Average = 12ms"; Linux with "rtt min/avg/max/mdev = a/b/c/d ms".
namespace Ping {

QString program();
QStringList arguments(const QString &host);

// True for an IPv4 or IPv6 address or a DNS host name. The host comes from the service and
// becomes a command-line argument: anything else (a leading "-", blanks, shell or option
// characters) is refused.
bool isValidHost(const QString &host);

// Starts the program for host on process (program and arguments set here). Refuses an
// invalid host: returns false and starts nothing.
bool start(QProcess &process, const QString &host);

// Average round trip in whole milliseconds from either summary form, or -1 when the output
// holds neither (host unreachable, output cut short).
int averageMs(const QString &output);

} // namespace Ping
} // namespace Tavrix
