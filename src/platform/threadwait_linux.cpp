#include <QByteArray>
#include <QFile>
#include <QList>

#include "platform/threadwait.h"

namespace Tavrix {

qint64 threadRunQueueWaitNs()
{
    // "<time on cpu> <time waiting on a run queue> <time slices>", in nanoseconds.
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = file.readAll().simplified().split(' ');
    bool ok = false;
    const qint64 wait = fields.size() >= 2 ? fields.at(1).toLongLong(&ok) : -1;
    return ok ? wait : -1;
}

} // namespace Tavrix
