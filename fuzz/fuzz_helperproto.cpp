// The helper's checkers on any text: the OpenVPN profile check, the WireGuard parser and the
// tun settings of an OpenConnect session. What they accept rebuilds to itself and holds nothing
// outside the allow-list; what they refuse is told without a piece of the input's key material.
#include <QRegularExpression>

#include "fuzzsupport.h"
#include "helperproto/limits.h"
#include "helperproto/openvpnprofile.h"
#include "helperproto/tunsettings.h"
#include "helperproto/wireguardconfig.h"

TAVRIX_FUZZ_INIT

namespace {

// Lines that may be key material: long runs of Base64 or hex.
bool leaksKeyLine(const QString &text, const QString &message)
{
    static const QRegularExpression keyish(QStringLiteral("[A-Za-z0-9+/=]{12,}"));
    static const QRegularExpression words(QStringLiteral("^[A-Za-z]+$"));
    for (auto it = keyish.globalMatch(text); it.hasNext();) {
        const QString run = it.next().captured(0);
        // Plain words ("configuration") occur in every message.
        if (!words.match(run).hasMatch() && message.contains(run))
            return true;
    }
    return false;
}

void checkOpenVpn(const QString &text)
{
    using namespace Tavrix::HelperProto;
    const OpenVpnProfileCheck check = checkOpenVpnProfile(text);
    if (!check.ok) {
        if (check.error.isEmpty() || !check.profile.isEmpty() || leaksKeyLine(text, check.error))
            __builtin_trap();
        return;
    }
    // Idempotent, and never a line OpenVPN would read as a hook or a file.
    if (checkOpenVpnProfile(check.profile).profile != check.profile)
        __builtin_trap();
    static const QRegularExpression forbidden(QStringLiteral(
        "(?m)^(plugin|up|down|script-security|setenv|management|config|log|status|route-up)\\b|\\\\|\\r"));
    if (forbidden.match(check.profile).hasMatch())
        __builtin_trap();
}

void checkWireGuard(const QString &text)
{
    using namespace Tavrix::HelperProto;
    WireGuardConfig config;
    QString error;
    if (!parseWireGuardConfig(text, &config, &error)) {
        if (error.isEmpty() || leaksKeyLine(text, error))
            __builtin_trap();
        return;
    }
    if (!validateWireGuardConfig(config, &error) || wireGuardTunnelAddress(config).isEmpty())
        __builtin_trap();
    const QString quick = wireGuardQuickText(config);
    WireGuardConfig again;
    if (!parseWireGuardConfig(quick, &again, &error) || wireGuardQuickText(again) != quick ||
        wireGuardSetconfText(again) != wireGuardSetconfText(config))
        __builtin_trap();
    static const QRegularExpression hook(QStringLiteral("(?im)^\\s*(pre|post)(up|down)|table|fwmark|saveconfig"));
    if (hook.match(quick).hasMatch())
        __builtin_trap();
}

// Lines as the library's fields: address, netmask, gateway, then routes, DNS servers and
// domains by their look.
void checkTun(const QString &text)
{
    using namespace Tavrix::HelperProto;
    const QStringList lines = text.split(QLatin1Char('\n'));
    TunSettings settings;
    settings.address4 = lines.value(0);
    settings.prefix4 = prefixOfNetmask(lines.value(1));
    settings.gateway = lines.value(2);
    for (const QString &line : lines.mid(3)) {
        const QString route = canonicalRoute(line);
        if (!route.isEmpty()) {
            // Canonical is a fixed point, and a network the helper's own check reads.
            if (canonicalRoute(route) != route || !isValidCidr(route))
                __builtin_trap();
            (line.startsWith(QLatin1Char('-')) ? settings.excludeRoutes : settings.includeRoutes).append(route);
        } else if (isValidIpAddress(line)) {
            settings.dns.append(line);
        } else {
            settings.domains.append(line);
        }
    }
    QString error;
    if (!validateTunSettings(settings, &error)) {
        if (error.isEmpty() || error.contains(QLatin1Char('\n')))
            __builtin_trap();
        return;
    }
    TunSettings again;
    if (!readTunSettings(tunSettingsFields(settings), &again, &error) || again != settings)
        __builtin_trap();
    for (const QString &route : settings.includeRoutes + settings.excludeRoutes) {
        if (route.endsWith(QLatin1String("/0")) || route.startsWith(QLatin1String("127.")))
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(TavrixFuzz::bytes(data, size));
    checkOpenVpn(text);
    checkWireGuard(text);
    checkTun(text);
    return 0;
}
