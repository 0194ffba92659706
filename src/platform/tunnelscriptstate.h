#pragma once

#include <QString>
#include <QStringList>

namespace Tavrix {

// What the in-process tunnel's configuration script keeps outside the tunnel device while a
// session is up: the system resolver set to the tunnel's DNS servers and the default routes it
// replaced, each with a saved copy of the original. Its disconnect step puts them back; a
// client killed while connected never runs it, and the machine would be left resolving
// through a tunnel that no longer exists.
namespace TunnelScriptState {

// Puts back what the script changed for the session of the (ended) client process `pid`, when
// that session never took its own changes back. Returns one line per thing restored, with a
// reason appended to the line when it could not be restored; empty when nothing was left.
QStringList restoreAfterSession(qint64 pid);

} // namespace TunnelScriptState
} // namespace Tavrix
