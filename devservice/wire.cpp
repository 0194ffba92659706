#include "wire.h"

#include <QJsonDocument>

#include "common/crypto.h"

namespace Tavrix {
namespace Dev {

namespace {

QByteArray escapeNonAscii(const QByteArray &utf8)
{
    const QString text = QString::fromUtf8(utf8);
    QByteArray out;
    out.reserve(utf8.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x80) {
            out.append(static_cast<char>(u));
        } else {
            // Surrogate halves come one by one, which is exactly JSON's escape form.
            out.append(QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0')).toLatin1());
        }
    }
    return out;
}

} // namespace

QByteArray asciiJson(const QJsonObject &object)
{
    return escapeNonAscii(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QByteArray asciiJson(const QJsonArray &array)
{
    return escapeNonAscii(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QByteArray protectReply(const QByteArray &plain)
{
    return encode(QString::fromUtf8(plain), CodecKey::response()).toLatin1();
}

QString protectEndpoint(const QString &plain)
{
    return encode(plain, CodecKey::endpoint());
}

QByteArray messageBody(const QString &text)
{
    return asciiJson(QJsonObject{{QStringLiteral("message"), text}});
}

} // namespace Dev
} // namespace Tavrix
