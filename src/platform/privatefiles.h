#pragma once

#include <QFile>
#include <QString>

namespace Tavrix {

// Files and folders that hold what other local users must not read or plant: the log (it
// names the account, its addresses and DNS) and the engine logs of a session.

// Opens file for appending, creating it readable and writable by the owner only and
// tightening an existing one. Refuses a symbolic link at that path. False when it could not
// be opened, with the reason in error.
bool openOwnerOnlyForAppend(QFile &file, QString *error = nullptr);

// A new, empty folder only the owner can enter (0700 on Linux), in the per-user runtime
// folder when there is one, else in the temporary folder; its name starts with prefix.
// Empty when it could not be made.
QString makePrivateFolder(const QString &prefix);

} // namespace Tavrix
