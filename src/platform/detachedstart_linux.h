#pragma once

#include <QString>
#include <QStringList>

namespace Tavrix {

// Linux only, shared by the engine and elevated starts: starts the program file `path` so that
// it outlives the client, forked twice (init adopts it, no zombie is left to us) and kept in
// the client's session. A new session would also be a scheduling group of its own, which on a
// busy machine halves its share of the processor. Standard input is /dev/null; output and
// errors go to `outputFile` (appended to when `append`, else truncated; nowhere when empty).
// On success *pid is its id; on failure *errorCode is errno's value and *error says why.
bool startDetachedProgram(const QString &path, const QStringList &arguments, const QString &outputFile, bool append,
                          qint64 *pid, int *errorCode, QString *error);

} // namespace Tavrix
