#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QVariantMap>

#include "helperproto/killswitchrules.h"

class QDBusServiceWatcher;

namespace Tavrix {

// The kill switch's firewall, one nftables table per user, put in force by the helper alone.
// A request is typed (state, addresses, interface names); the ruleset is written here from it
// and applied with one `nft -f` transaction, so the firewall goes from one state to the next
// with nothing in between, and a failure leaves the previous state in force and is answered.
//
// The window's end is no reason to open the firewall: when the bus name that set the switch
// leaves (the window quit, crashed or was killed), a switch that was on falls back to Blocked
// with its last service and endpoint addresses; the IPv6 guard of a switch that was off goes
// with the tunnel. The Blocked addresses are kept in the state folder, so that the helper
// applies the block again when it starts (at boot, before the network comes up) until the
// window says otherwise.
class KillSwitchKeeper : public QObject
{
    Q_OBJECT
public:
    KillSwitchKeeper(const QDBusConnection &bus, const QString &stateFolder, QObject *parent = nullptr);

    // Reads SetKillSwitch's a{sv} strictly and validates it; false with *error.
    static bool readRequest(const QVariantMap &fields, HelperProto::KillSwitchRequest *request, QString *error);
    // Puts `request` in force for `uid`, set by `busName`. False with the reason when nft refused
    // it (the previous state then still holds).
    bool apply(uint uid, const QString &busName, const HelperProto::KillSwitchRequest &request, QString *error);
    // Applies Blocked for every user whose switch was stored on (at the helper's start).
    void restoreStored();

    // The nft program run, by absolute path. Tests of the helper never change it.
    static constexpr const char *nftProgram = "/usr/sbin/nft";

private:
    struct Entry
    {
        QString busName;
        HelperProto::KillSwitchRequest request;
    };
    bool runNft(const QByteArray &ruleset, QString *error) const;
    QString storedPath(uint uid) const;
    bool store(uint uid, const HelperProto::KillSwitchRequest &request, QString *error) const;
    void onBusNameGone(const QString &busName);

    QString m_stateFolder;
    QHash<uint, Entry> m_entries;
    QDBusServiceWatcher *m_watcher = nullptr;
};

} // namespace Tavrix
