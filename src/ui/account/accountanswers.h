#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

namespace Tavrix {

// What the referral, devices and dark-web pages make of the account API's answers, apart
// from any widget.
namespace AccountAnswers {

struct ReferralContent
{
    QString title;
    QString message;
    QString code;
};

// The texts of the referral information: its members are walked in key order and the last
// one wins; a member that is not an object gives empty texts.
ReferralContent referralContent(const QJsonObject &referInfo);

// The device groups of the devices page, in the order they are shown.
enum class DevicePlatform { Apple, Windows, Android, Huawei, Linux, Unlisted };

// "windows", "android", "ios" and "huawei" in any letter case. A Linux machine signs in with
// its distribution's id as the system name (what this client sends there too): "linux", the
// usual distribution ids and this machine's own are Linux. Anything else is unlisted.
DevicePlatform devicePlatform(const QString &osName);

struct DeviceRow
{
    DevicePlatform platform = DevicePlatform::Unlisted;
    QString model;      // "model", or "brand" when the model is empty
    QString osVersion;  // "(" + lower-case os name + " " + version + ")"
    QString appVersion; // "App Version-" + version
};

// The rows to list, in answer order: members that are not objects and devices of unlisted
// platforms are left out.
QVector<DeviceRow> deviceRows(const QJsonArray &devices);

// The answer the dark-web page shows for an address and the check's result.
QString darkWebAnswer(const QString &email, int result, const QString &message);

} // namespace AccountAnswers
} // namespace Tavrix
