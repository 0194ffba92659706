#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace Tavrix {

// The addresses the referral page's "Share Via" entries open. Every text that carries the
// referral code is percent-encoded (all but the unreserved characters), so a code with "&",
// "#", "?" or blanks stays one value and cannot add query items or cut the address.
namespace ReferralShare {

// The entry titles in grid order (row by row, two columns).
QStringList titles();
// The picture of an entry.
QString icon(const QString &title);

// "Hey! Use my Tavrix VPN Refer Code ..." followed by the code.
QString message(const QString &referralCode);
// "\nDownload Tavrix VPN: " followed by the download page's address.
QString downloadLine();

// The address opened for an entry; invalid for an unknown title.
QUrl address(const QString &title, const QString &referralCode);

} // namespace ReferralShare
} // namespace Tavrix
