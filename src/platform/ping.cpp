#include "platform/ping.h"

#include <QDebug>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace Tavrix {
namespace Ping {

bool isValidHost(const QString &host)
{
    if (host.isEmpty() || host.startsWith(QLatin1Char('-')))
        return false;
    QHostAddress address;
    if (address.setAddress(host))
        return true;
    // Labels of letters, digits and inner hyphens, dot-separated, at most 253 characters.
    static const QRegularExpression name(QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                                                        "(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\\.?$"));
    return name.match(host).hasMatch();
}

bool start(QProcess &process, const QString &host)
{
    if (!isValidHost(host)) {
        qWarning().noquote() << "ping: refusing host" << host.left(64);
        return false;
    }
    process.start(program(), arguments(host));
    return true;
}

int averageMs(const QString &output)
{
    static const QRegularExpression windowsForm(QStringLiteral("Average = (\\d+)ms"));
    const QRegularExpressionMatch windowsMatch = windowsForm.match(output);
    if (windowsMatch.hasMatch()) {
        bool ok = false;
        const int average = windowsMatch.captured(1).toInt(&ok);
        return ok ? average : -1;
    }

    // "rtt" on iputils, "round-trip" on busybox and the BSDs; mdev may be "stddev".
    static const QRegularExpression unixForm(
        QStringLiteral("(?:rtt|round-trip) min/avg/max(?:/\\w+)? = ([0-9.]+)/([0-9.]+)/([0-9.]+)(?:/[0-9.]+)? ms"));
    const QRegularExpressionMatch unixMatch = unixForm.match(output);
    if (unixMatch.hasMatch()) {
        bool ok = false;
        const double average = unixMatch.captured(2).toDouble(&ok);
        // A round trip past what an int holds is no measurement (and would wrap negative).
        if (ok && average < std::numeric_limits<int>::max())
            return static_cast<int>(std::lround(average));
    }
    return -1;
}

} // namespace Ping
} // namespace Tavrix
