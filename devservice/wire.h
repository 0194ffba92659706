#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace Tavrix {
namespace Dev {

// Compact JSON text that uses only 7-bit characters: everything else becomes a \u escape.
// Protected replies must be 7-bit, since the client's codec works character by character.
QByteArray asciiJson(const QJsonObject &object);
QByteArray asciiJson(const QJsonArray &array);

// A reply body protected with the response key, as the account endpoints send it.
QByteArray protectReply(const QByteArray &plain);
// A configuration value protected with the endpoint key.
QString protectEndpoint(const QString &plain);

// {"message": text}: the body of every refusal.
QByteArray messageBody(const QString &text);

} // namespace Dev
} // namespace Tavrix
