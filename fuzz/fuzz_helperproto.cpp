// The helper's checkers on any text: the OpenVPN profile check and the WireGuard parser. What
// they accept rebuilds to itself and holds nothing outside the allow-list; what they refuse is
// told without a piece of the input's key material.
#include <QRegularExpression>

#include "fuzzsupport.h"
#include "helperproto/openvpnprofile.h"
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(TavrixFuzz::bytes(data, size));
    checkOpenVpn(text);
    checkWireGuard(text);
    return 0;
}
