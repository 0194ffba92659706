// A configuration document as it arrives: decoded with the endpoint key, parsed, the
// country document searched and every endpoint value read.
#include <QJsonDocument>

#include "api/basehttprequest.h"
#include "api/endpointdocuments.h"
#include "fuzzsupport.h"

TAVRIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace Tavrix;
    const QByteArray input = TavrixFuzz::bytes(data, size);
    for (const QJsonDocument &document : {BaseHttpRequest::decodeResponse(input, QStringLiteral("Rk(Vbnwqeo"), nullptr),
                                          QJsonDocument::fromJson(input)}) {
        const QJsonObject object = document.object();
        const auto country = EndpointDocuments::countryEndpoints(object, QStringLiteral("DE"));
        const QJsonObject fields = object.value(QStringLiteral("fields")).toObject();
        for (const auto &endpoint : EndpointDocuments::endpointTable())
            EndpointDocuments::rawEndpointValue(endpoint, fields, country);
    }
    return 0;
}
