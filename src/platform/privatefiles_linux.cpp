#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/privatefiles.h"

namespace Tavrix {

bool openOwnerOnlyForAppend(QFile &file, QString *error)
{
    const QByteArray path = QFile::encodeName(file.fileName());
    // O_NOFOLLOW: a link planted at the log's name must not redirect our writes.
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = qt_error_string(errno);
        return false;
    }
    struct stat created;
    if (::fstat(fd, &created) != 0 || !S_ISREG(created.st_mode)) {
        if (error)
            *error = QStringLiteral("not a regular file");
        ::close(fd);
        return false;
    }
    if ((created.st_mode & 0777) != 0600)
        ::fchmod(fd, 0600);
    ::close(fd);
    // Opened by name again, so that the file object can close and reopen it later (log
    // rotation); it must still be the file checked above.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    struct stat opened;
    if (::fstat(file.handle(), &opened) != 0 || opened.st_dev != created.st_dev || opened.st_ino != created.st_ino) {
        file.close();
        if (error)
            *error = QStringLiteral("the file was replaced while it was opened");
        return false;
    }
    return true;
}

QString makePrivateFolder(const QString &prefix)
{
    // The runtime folder is the user's own; without one, mkdtemp's private folder in the
    // shared temporary folder is just as safe.
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QDir::tempPath();
    QByteArray pattern = QFile::encodeName(base + QLatin1Char('/') + prefix + QStringLiteral("XXXXXX"));
    // mkdtemp makes the folder 0700 and fails rather than reuse an existing name.
    if (!::mkdtemp(pattern.data()))
        return QString();
    return QFile::decodeName(pattern);
}

} // namespace Tavrix
