#include "helperproto/outlinesplit.h"

#include "helperproto/limits.h"

namespace Tavrix::HelperProto {

namespace {
// The kernel keeps 15 characters of a program's name, but /proc/<pid>/exe gives the whole one.
constexpr int maxProgramNameLength = 255;
} // namespace

QStringList outlineMethods()
{
    return {QStringLiteral("chacha20-ietf-poly1305"), QStringLiteral("xchacha20-ietf-poly1305"),
            QStringLiteral("aes-128-gcm"), QStringLiteral("aes-192-gcm"), QStringLiteral("aes-256-gcm")};
}

bool validateOutlineRequest(const OutlineRequest &request, QString *error)
{
    if (!isValidIpAddress(request.host) && !isValidHostName(request.host)) {
        *error = QStringLiteral("The Outline server's address is not an IP address or host name.");
        return false;
    }
    if (request.port < 1 || request.port > 65535) {
        *error = QStringLiteral("The Outline server's port is not a port number (1-65535).");
        return false;
    }
    // Control characters would not survive the engine's key file; the password is never echoed.
    bool printable = isValidPassword(request.password);
    for (const QChar c : request.password)
        printable = printable && c.unicode() >= 0x20 && c.unicode() != 0x7f;
    if (!printable) {
        *error = QStringLiteral("The Outline server's password is empty, too long or holds control characters.");
        return false;
    }
    if (!outlineMethods().contains(request.method)) {
        *error = QStringLiteral("The Outline server's cipher \"%1\" is not supported.").arg(request.method.left(40));
        return false;
    }
    return true;
}

bool isValidProgramName(const QString &name)
{
    if (name.isEmpty() || name.size() > maxProgramNameLength || name == QLatin1String(".") ||
        name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

bool validateProgramNames(const QStringList &names, QString *error)
{
    if (names.size() > maxPrograms) {
        *error = QStringLiteral("Too many programs to bypass the tunnel (at most %1).").arg(maxPrograms);
        return false;
    }
    for (const QString &name : names) {
        if (!isValidProgramName(name)) {
            *error = QStringLiteral("\"%1\" is not a program name (a file name without a folder).").arg(name.left(60));
            return false;
        }
    }
    return true;
}

} // namespace Tavrix::HelperProto
