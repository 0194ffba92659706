#pragma once

#include <QString>
#include <QStringList>

// Outline and split tunnelling as the window asks the helper for them: the keys of an Outline
// request and what its fields and a list of bypassing programs may hold.
namespace Tavrix::HelperProto {

// StartOutline's a{sv}: the Shadowsocks server and its key, nothing else.
namespace OutlineKey {
inline constexpr const char *host = "Host";         // s: IP address or DNS name
inline constexpr const char *port = "Port";         // u: 1-65535
inline constexpr const char *password = "Password"; // s
inline constexpr const char *method = "Method";     // s: one of outlineMethods()
} // namespace OutlineKey

struct OutlineRequest
{
    QString host;
    uint port = 0;
    QString password;
    QString method;
};

// The ciphers the Shadowsocks engine speaks that Outline servers use (the AEAD ones).
QStringList outlineMethods();
// False with *error (a sentence for the user, never the password) when a field is unusable.
bool validateOutlineRequest(const OutlineRequest &request, QString *error);

// A program chosen to bypass the tunnel, by its executable's file name: a name, not a path,
// an option or anything a shell would read; the list bounded.
bool isValidProgramName(const QString &name);
bool validateProgramNames(const QStringList &names, QString *error);

} // namespace Tavrix::HelperProto
