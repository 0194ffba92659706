#include "helper/openvpntunnel.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "helper/proto.h"

namespace Tavrix {

namespace {

// OpenVPN reads its profile and connects to the management socket within a second or two;
// past this it is stuck and is stopped.
constexpr int managementWaitMs = 20000;
const QString profileSuffix = QStringLiteral(".ovpn");
const QString socketSuffix = QStringLiteral(".mgmt");

} // namespace

OpenVpnTunnel::OpenVpnTunnel(const QString &id, const RuntimeFolder &folder, QObject *parent)
    : Tunnel(id, QStringLiteral("OpenVPN"), folder, parent)
{
}

OpenVpnTunnel::~OpenVpnTunnel()
{
    cleanUp();
}

bool OpenVpnTunnel::start(const QString &profile, QString *error)
{
    const auto checked = HelperProto::checkOpenVpnProfile(profile);
    if (!checked.ok) {
        *error = QStringLiteral("the OpenVPN profile was refused: ") + checked.error;
        return false;
    }
    if (!writeFile(profileSuffix, checked.profile.toUtf8(), error))
        return false;

    // The listening socket lives in the root-only folder: no other user can reach it, and
    // after OpenVPN's connection it is closed and removed.
    const QByteArray socketPath = QFile::encodeName(filePath(socketSuffix));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(socketPath.size()) >= sizeof address.sun_path) {
        *error = QStringLiteral("the runtime folder's path is too long for a socket");
        return false;
    }
    memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::unlink(socketPath.constData());
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 1) != 0) {
        *error = QStringLiteral("cannot make the management socket: ") + QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    m_notifier = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OpenVpnTunnel::acceptManagement);

    const QStringList arguments = {QStringLiteral("--config"),
                                   filePath(profileSuffix),
                                   QStringLiteral("--verb"),
                                   QStringLiteral("3"),
                                   QStringLiteral("--management"),
                                   filePath(socketSuffix),
                                   QStringLiteral("unix"),
                                   QStringLiteral("--management-client"),
                                   QStringLiteral("--management-query-passwords"),
                                   QStringLiteral("--management-hold"),
                                   QStringLiteral("--suppress-timestamps"),
                                   QStringLiteral("--script-security"),
                                   QStringLiteral("1")};
    if (!startEngine(QStringLiteral("openvpn"), arguments, {}, error))
        return false;
    QTimer::singleShot(managementWaitMs, this, [this] {
        if (!isUp())
            fail(QStringLiteral("OpenVPN did not open its management link in time"));
    });
    return true;
}

void OpenVpnTunnel::acceptManagement()
{
    const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
        return;
    // Only OpenVPN could reach the socket; whatever came first is it. No second one.
    m_notifier->setEnabled(false);
    ::close(m_listener);
    m_listener = -1;
    ::unlink(QFile::encodeName(filePath(socketSuffix)).constData());
    m_management = connection;
    // OpenVPN has read its profile before it connects: the keys leave the disk now.
    removeFile(profileSuffix);
    markUp();
}

int OpenVpnTunnel::takeManagementFd()
{
    const int fd = m_management;
    m_management = -1;
    return fd;
}

void OpenVpnTunnel::cleanUp()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_listener >= 0) {
        ::close(m_listener);
        m_listener = -1;
        ::unlink(QFile::encodeName(filePath(socketSuffix)).constData());
    }
    if (m_management >= 0) {
        ::close(m_management);
        m_management = -1;
    }
}

} // namespace Tavrix
