#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/privatefile.h"

namespace Tavrix {

bool writePrivateFile(const QString &path, const QByteArray &content, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    // An earlier file may have been made readable by others, or be a link elsewhere: a new
    // file in its place, created owner-only, avoids both.
    if (::unlink(name.constData()) != 0 && errno != ENOENT) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    qint64 written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, size_t(content.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = QString::fromLocal8Bit(strerror(errno));
            ::close(fd);
            ::unlink(name.constData());
            return false;
        }
        written += n;
    }
    if (::close(fd) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        ::unlink(name.constData());
        return false;
    }
    return true;
}

} // namespace Tavrix
