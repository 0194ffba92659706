#include "platform/tunnelscriptstate.h"

namespace Tavrix {
namespace TunnelScriptState {

QStringList restoreAfterSession(qint64 pid)
{
    // The Windows script sets DNS servers and routes on the tunnel adapter only; they go with
    // the adapter when the session's process ends.
    Q_UNUSED(pid)
    return {};
}

} // namespace TunnelScriptState
} // namespace Tavrix
