#include "helper/runtimefolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tavrix {

bool RuntimeFolder::prepare(const QString &path, QString *error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QByteArray raw = QFile::encodeName(absolute);
    if (::mkdir(raw.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot make %1: %2").arg(absolute, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    struct stat info
    {
    };
    if (::lstat(raw.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        *error = QStringLiteral("%1 is not a folder of this user").arg(absolute);
        return false;
    }
    if (::chmod(raw.constData(), 0700) != 0) {
        *error = QStringLiteral("cannot make %1 private").arg(absolute);
        return false;
    }
    m_path = absolute;
    // Leftovers of a helper that did not end cleanly hold keys; their tunnels are gone.
    const QStringList stale = QDir(absolute).entryList(QDir::Files | QDir::System | QDir::Hidden);
    for (const QString &name : stale)
        QFile::remove(filePath(name));
    return true;
}

QString RuntimeFolder::filePath(const QString &name) const
{
    return m_path + QLatin1Char('/') + name;
}

bool RuntimeFolder::writePrivate(const QString &name, const QByteArray &content, QString *error) const
{
    const QByteArray path = QFile::encodeName(filePath(name));
    ::unlink(path.constData());
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(filePath(name), QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    qint64 done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(path.constData());
            *error = QStringLiteral("short write to %1").arg(filePath(name));
            return false;
        }
        done += n;
    }
    ::close(fd);
    return true;
}

void RuntimeFolder::remove(const QString &name) const
{
    QFile::remove(filePath(name));
}

} // namespace Tavrix
