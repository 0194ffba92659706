#pragma once

#include <QByteArray>
#include <QString>

namespace Tavrix {

// Writes a file only its owner may read (it holds a secret such as a private key). The file is
// created with those rights before anything is written, replacing any earlier file of that
// name, so the secret is never readable by others, not even for a moment.
bool writePrivateFile(const QString &path, const QByteArray &content, QString *error);

} // namespace Tavrix
