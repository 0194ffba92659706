#include "common/remotecommand.h"

namespace Tavrix {

namespace RemoteCommand {

ServerMatch matchServer(const QVector<IPBundlePtr> &offered, const QString &text)
{
    ServerMatch match;
    const QString wanted = text.trimmed();
    if (wanted.isEmpty())
        return match;
    bool isNumber = false;
    const int ipId = wanted.toInt(&isNumber);
    if (isNumber) {
        for (const IPBundlePtr &bundle : offered) {
            if (bundle->ip_id() == ipId) {
                match.chosen = bundle;
                return match;
            }
        }
        return match;
    }
    QVector<IPBundlePtr> exact;
    QVector<IPBundlePtr> containing;
    for (const IPBundlePtr &bundle : offered) {
        const QString full = bundle->ipName() + QStringLiteral(", ") + bundle->countryName();
        if (bundle->ipName().compare(wanted, Qt::CaseInsensitive) == 0 ||
            full.compare(wanted, Qt::CaseInsensitive) == 0)
            exact.append(bundle);
        else if (full.contains(wanted, Qt::CaseInsensitive))
            containing.append(bundle);
    }
    const QVector<IPBundlePtr> &best = exact.isEmpty() ? containing : exact;
    if (best.size() == 1)
        match.chosen = best.constFirst();
    else
        match.candidates = best;
    return match;
}

} // namespace RemoteCommand

} // namespace Tavrix
