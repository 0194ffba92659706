#include "platform/ping.h"

#include <QProcess>
#include <QRegularExpression>

#include <cmath>

namespace Tavrix {
namespace Ping {

void start(QProcess &process, const QString &host)
{
    process.start(program(), arguments(host));
}

int averageMs(const QString &output)
{
    static const QRegularExpression windowsForm(QStringLiteral("Average = (\\d+)ms"));
    const QRegularExpressionMatch windowsMatch = windowsForm.match(output);
    if (windowsMatch.hasMatch())
        return windowsMatch.captured(1).toInt();

    // "rtt" on iputils, "round-trip" on busybox and the BSDs; mdev may be "stddev".
    static const QRegularExpression unixForm(
        QStringLiteral("(?:rtt|round-trip) min/avg/max(?:/\\w+)? = ([0-9.]+)/([0-9.]+)/([0-9.]+)(?:/[0-9.]+)? ms"));
    const QRegularExpressionMatch unixMatch = unixForm.match(output);
    if (unixMatch.hasMatch()) {
        bool ok = false;
        const double average = unixMatch.captured(2).toDouble(&ok);
        if (ok)
            return static_cast<int>(std::lround(average));
    }
    return -1;
}

} // namespace Ping
} // namespace Tavrix
