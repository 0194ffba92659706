#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/settingsfile.h"

namespace Tavrix {

void restrictSettingsFile(const QString &location)
{
    const QByteArray path = QFile::encodeName(location);
    struct stat st;
    if (::stat(path.constData(), &st) == 0) {
        if ((st.st_mode & 0777) != 0600)
            ::chmod(path.constData(), 0600);
        return;
    }
    QDir().mkpath(QFileInfo(location).absolutePath());
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace Tavrix
