#include "common/jsonread.h"

namespace Tavrix {
namespace JsonRead {

int number(const QJsonObject &object, const QString &key)
{
    return object.value(key).toInt();
}

QString text(const QJsonObject &object, const QString &key)
{
    return object.value(key).toString();
}

int numberInText(const QJsonObject &object, const QString &key)
{
    return object.value(key).toString().toInt();
}

} // namespace JsonRead
} // namespace Tavrix
