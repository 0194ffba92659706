#pragma once

#include <QString>

namespace Tavrix {

// The four keys of the value codec. They are used as characters, not as bytes.
namespace CodecKey {
// Stored user name and password.
inline const QString local()
{
    return QStringLiteral("4A7D2C91E05B38F6A1D4C7E2095B3F68");
}
// Replies of the account service.
inline const QString response()
{
    return QStringLiteral("Hyxp3(lte");
}
// Endpoint values of the configuration documents.
inline const QString endpoint()
{
    return QStringLiteral("Rk(Vbnwqeo");
}
// The "authToken" parameter of web-shop and banner links.
inline const QString link()
{
    return QStringLiteral("shield3OrUn7shieldFor2Values");
}
} // namespace CodecKey

// Repeating-key XOR over the UTF-8 bytes of text, then standard Base64 (padded, no line
// breaks). For 7-bit text this is the format the service and earlier releases use.
// The empty text encodes to the empty text. An empty key leaves the bytes as they are.
QString encode(const QString &text, const QString &key);

// Inverse of encode(). The Base64 input is read leniently (foreign characters skipped,
// padding optional). When the XORed bytes are not valid UTF-8 (values written by earlier
// releases from non-ASCII text), each byte is widened as a signed byte, as those releases did.
QString decode(const QString &text, const QString &key);

} // namespace Tavrix
