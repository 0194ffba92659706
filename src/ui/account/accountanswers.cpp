#include "ui/account/accountanswers.h"

#include <QDebug>
#include <QSet>
#include <QSysInfo>

namespace Tavrix {
namespace AccountAnswers {

ReferralContent referralContent(const QJsonObject &referInfo)
{
    ReferralContent content;
    for (auto it = referInfo.constBegin(); it != referInfo.constEnd(); ++it) {
        qDebug().noquote() << "key:::::::" << it.key();
        const QJsonObject member = it.value().toObject();
        const QJsonObject page = member.value(QStringLiteral("pageContent")).toObject();
        content.title = page.value(QStringLiteral("title")).toString();
        content.message = page.value(QStringLiteral("message")).toString();
        content.code = member.value(QStringLiteral("referral_code")).toString();
    }
    return content;
}

DevicePlatform devicePlatform(const QString &osName)
{
    const QString name = osName.toLower();
    if (name == QLatin1String("windows"))
        return DevicePlatform::Windows;
    if (name == QLatin1String("android"))
        return DevicePlatform::Android;
    if (name == QLatin1String("ios"))
        return DevicePlatform::Apple;
    if (name == QLatin1String("huawei"))
        return DevicePlatform::Huawei;
    // Distribution ids as os-release names them.
    static const QSet<QString> distributions = {
        QStringLiteral("linux"),
        QStringLiteral("debian"),
        QStringLiteral("ubuntu"),
        QStringLiteral("linuxmint"),
        QStringLiteral("pop"),
        QStringLiteral("elementary"),
        QStringLiteral("zorin"),
        QStringLiteral("kali"),
        QStringLiteral("raspbian"),
        QStringLiteral("fedora"),
        QStringLiteral("rhel"),
        QStringLiteral("centos"),
        QStringLiteral("rocky"),
        QStringLiteral("almalinux"),
        QStringLiteral("opensuse"),
        QStringLiteral("opensuse-leap"),
        QStringLiteral("opensuse-tumbleweed"),
        QStringLiteral("sles"),
        QStringLiteral("arch"),
        QStringLiteral("manjaro"),
        QStringLiteral("endeavouros"),
        QStringLiteral("gentoo"),
        QStringLiteral("nixos"),
        QStringLiteral("void"),
        QStringLiteral("alpine"),
        QStringLiteral("slackware"),
        QStringLiteral("mageia"),
        QStringLiteral("solus"),
        QStringLiteral("deepin"),
        QStringLiteral("neon"),
    };
    if (distributions.contains(name))
        return DevicePlatform::Linux;
    static const bool onLinux = QSysInfo::kernelType() == QLatin1String("linux");
    if (onLinux && !name.isEmpty() && name == QSysInfo::productType().toLower())
        return DevicePlatform::Linux;
    return DevicePlatform::Unlisted;
}

QVector<DeviceRow> deviceRows(const QJsonArray &devices)
{
    QVector<DeviceRow> rows;
    for (const QJsonValue &value : devices) {
        if (!value.isObject())
            continue;
        const QJsonObject device = value.toObject();
        const QString osName = device.value(QStringLiteral("os_name")).toString();
        DeviceRow row;
        row.platform = devicePlatform(osName);
        if (row.platform == DevicePlatform::Unlisted)
            continue;
        row.model = device.value(QStringLiteral("model")).toString();
        if (row.model.isEmpty())
            row.model = device.value(QStringLiteral("brand")).toString();
        row.osVersion = QStringLiteral("(") + osName.toLower() + QLatin1Char(' ') +
                        device.value(QStringLiteral("os_version")).toString() + QLatin1Char(')');
        row.appVersion = QStringLiteral("App Version-") + device.value(QStringLiteral("vpn_app_version")).toString();
        rows.append(row);
    }
    return rows;
}

QString darkWebAnswer(const QString &email, int result, const QString &message)
{
    if (email.isEmpty())
        return QStringLiteral("Email is empty!");
    if (result == 0)
        return QStringLiteral(
            "Dark web check request submitted successfully. \nThe result will be sent to your email soon!");
    if (result == 4)
        return QStringLiteral("Email Address not Valid");
    return message;
}

} // namespace AccountAnswers
} // namespace Tavrix
