// The sign-in reply: decoded with the response key and turned into the account and its
// server list, the way the sign-in does.
#include <QJsonDocument>
#include <QJsonObject>

#include "api/apirequest.h"
#include "api/basehttprequest.h"
#include "common/user.h"
#include "fuzzsupport.h"

TAVRIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace Tavrix;
    const QByteArray input = TavrixFuzz::bytes(data, size);
    for (const QJsonDocument &document :
         {BaseHttpRequest::decodeResponse(input, ApiRequest::responseKey, nullptr), QJsonDocument::fromJson(input)}) {
        User user;
        user.fromLoginResponse(document.object());
        user.typeText();
        user.activeBundle();
    }
    return 0;
}
