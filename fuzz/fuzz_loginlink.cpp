// A login link from the browser: parsed, its parameters read and its secrets masked.
#include "common/loginlink.h"
#include "fuzzsupport.h"

TAVRIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(TavrixFuzz::bytes(data, size));
    const Tavrix::LoginLink link = Tavrix::parseLoginLink(text);
    const QString masked = Tavrix::maskLoginLinkSecrets(text);
    // The masked text must not carry a password that the parser accepted.
    if (link.kind == Tavrix::LoginLink::Kind::Valid && link.password.size() > 3 &&
        masked.contains(QStringLiteral("value=") + link.password))
        __builtin_trap();
    Tavrix::loginLinkParameter(text, QStringLiteral("authenticate"));
    return 0;
}
