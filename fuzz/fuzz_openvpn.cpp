// The OpenVPN management link: every line OpenVPN (or whatever answers on the port) may send,
// through the runner's dispatch, with the signals it gives checked against the line.
#include <QPointer>

#include "fuzzsupport.h"
#include "vpn/openvpnrunner.h"

TAVRIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = TavrixFuzz::bytes(data, size);
    QPointer<OpenVpnRunner> runner = new OpenVpnRunner;
    int disconnects = 0;
    QObject::connect(runner, &OpenVpnRunner::disconnected, [&disconnects] { ++disconnects; });
    int start = 0;
    while (start < input.size() && runner) {
        int end = input.indexOf('\n', start);
        end = end < 0 ? input.size() : end + 1;
        runner->handleManagementLine(input.mid(start, end - start));
        start = end;
    }
    // "disconnected" is reported once, however often OpenVPN refuses the password.
    if (disconnects > 1)
        __builtin_trap();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete runner.data();
    return 0;
}
