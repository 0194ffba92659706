#include "app/versiontracking.h"

#include <QDebug>
#include <QStringList>

#include "common/config.h"

namespace Tavrix {

bool isVersionOlder(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    for (int i = 0; i < 3; ++i) {
        const int l = left.value(i).toInt();
        const int r = right.value(i).toInt();
        if (l != r)
            return l < r;
    }
    return false;
}

void trackAppVersion(const QString &current)
{
    const QString stored = Config::lastAppVersion();
    if (stored.isEmpty()) {
        qDebug().noquote() << "First run detected, initializing version tracking";
        Config::setLastAppVersion(current);
        return;
    }
    if (isVersionOlder(stored, current)) {
        qDebug().noquote() << "Version changed from" << stored << "to" << current;
        migrateSettings(stored, current);
        Config::setLastAppVersion(current);
        qDebug().noquote() << "Migration completed successfully";
        return;
    }
    // A downgrade keeps the newer number, so running the newer version again migrates nothing.
    qDebug().noquote() << "Version unchanged:" << current;
}

void migrateSettings(const QString &from, const QString &to)
{
    qDebug().noquote() << "Performing migration from" << from << "to" << to;
    // Plain text comparison, as earlier releases did: "3.1.10" sorts before "3.1.6", so those
    // installations clear their cache too, which only costs one fresh download.
    const QString cacheClearing = QStringLiteral("3.1.6");
    if (from < cacheClearing && !(to < cacheClearing)) {
        qDebug().noquote() << "Migrating to 3.1.6: Clearing old cache...";
        Config::clearConfigCache();
        Config::setConfigExist(false);
        qDebug().noquote() << "Migration to 3.1.6 completed";
    }
}

} // namespace Tavrix
