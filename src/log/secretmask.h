#pragma once

#include <QString>
#include <QStringList>

namespace Tavrix {

// What a hidden secret reads as in the log and in diagnostic reports.
extern const QString hiddenSecret;

// `text` with every occurrence of the known secrets (passwords, cookies the caller holds) and
// every credential-looking item replaced by hiddenSecret: session cookies in headers and
// name=value pairs, password / token items of forms, queries and JSON, and bearer headers.
// Used for everything the program writes out that may carry what a user or server sent.
QString maskSecrets(const QString &text, const QStringList &knownSecrets = {});

} // namespace Tavrix
