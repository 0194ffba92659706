#include <QFile>

#include "platform/privatefile.h"

namespace Tavrix {

bool writePrivateFile(const QString &path, const QByteArray &content, QString *error)
{
    // The data folder's access list already keeps other users out; the file inherits it.
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = file.errorString();
        return false;
    }
    if (file.write(content) != content.size()) {
        *error = file.errorString();
        file.close();
        QFile::remove(path);
        return false;
    }
    file.close();
    return true;
}

} // namespace Tavrix
