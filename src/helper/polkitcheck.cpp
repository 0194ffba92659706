#include "helper/polkitcheck.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QVariantMap>

namespace Tavrix {

namespace {

// polkit's subject: ("system-bus-name", {"name": <unique name>}), signature (sa{sv}).
struct PolkitSubject
{
    QString kind;
    QVariantMap details;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PolkitSubject &subject)
{
    argument.beginStructure();
    argument << subject.kind << subject.details;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PolkitSubject &subject)
{
    argument.beginStructure();
    argument >> subject.kind >> subject.details;
    argument.endStructure();
    return argument;
}

} // namespace
} // namespace Tavrix

Q_DECLARE_METATYPE(Tavrix::PolkitSubject)

namespace Tavrix {

bool polkitAllows(const QDBusConnection &bus, const QString &busName, const QString &action, QString *reason)
{
    static const int subjectType = qDBusRegisterMetaType<PolkitSubject>();
    static const int detailsType = qDBusRegisterMetaType<QMap<QString, QString>>();
    Q_UNUSED(subjectType)
    Q_UNUSED(detailsType)
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.PolicyKit1"), QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
        QStringLiteral("org.freedesktop.PolicyKit1.Authority"), QStringLiteral("CheckAuthorization"));
    PolkitSubject subject{QStringLiteral("system-bus-name"), {{QStringLiteral("name"), busName}}};
    const QMap<QString, QString> details;
    // Flags 0: no authentication dialog; the helper never waits on a user.
    call << QVariant::fromValue(subject) << action << QVariant::fromValue(details) << quint32(0) << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *reason = QStringLiteral("polkit could not be asked: ") + reply.errorMessage();
        return false;
    }
    // (bba{ss}): is authorized, is challenge, details.
    const QDBusArgument result = reply.arguments().first().value<QDBusArgument>();
    bool authorized = false;
    bool challenge = false;
    QMap<QString, QString> replyDetails;
    result.beginStructure();
    result >> authorized >> challenge >> replyDetails;
    result.endStructure();
    if (authorized)
        return true;
    *reason = challenge ? QStringLiteral("an administrator must authorise tunnels for this session")
                        : QStringLiteral("this user may not set up VPN tunnels here");
    return false;
}

} // namespace Tavrix
