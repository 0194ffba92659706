#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace Tavrix {
namespace JsonRead {

// Readers for the service's records: a value of another JSON type gives the default of the
// field's type, never an error.
int number(const QJsonObject &object, const QString &key);
QString text(const QJsonObject &object, const QString &key);
// A JSON string holding a decimal number ("30"); anything else gives 0.
int numberInText(const QJsonObject &object, const QString &key);

} // namespace JsonRead
} // namespace Tavrix
