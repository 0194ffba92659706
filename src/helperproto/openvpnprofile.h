#pragma once

#include <QString>

namespace Tavrix::HelperProto {

struct OpenVpnProfileCheck
{
    bool ok = false;
    QString profile;
    QString error;
};

// Parses a profile from the service, keeps only allow-listed client directives and rebuilds it
// as canonical text (one directive per line, inline blocks kept). On refusal `error` is a
// sentence for the user naming the refused directive (never any key material).
OpenVpnProfileCheck checkOpenVpnProfile(const QString &text);

} // namespace Tavrix::HelperProto
