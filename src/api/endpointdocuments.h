#pragma once

#include <QJsonObject>
#include <QString>
#include <QVector>

namespace Tavrix {

// Pure readers of the configuration documents: no settings, no network, no log.
namespace EndpointDocuments {

// A document field's text: fields hold {"<name>": {"stringValue": "..."}}.
QString fieldString(const QJsonObject &fields, const QString &name);

// The country document's endpoints for one country code (the last "/" part of a document's
// "name"). `found` is false for an empty code or when no document names it.
struct CountryEndpoints
{
    bool found = false;
    QString login;
    QString signup;
    QString socialAuth;
};
CountryEndpoints countryEndpoints(const QJsonObject &countryDocument, const QString &countryCode);

// One row of the endpoint table: the main document's field, the "UserDefaults" key it is
// stored under, whether the value is encoded with the endpoint key, and the log text.
struct Endpoint
{
    const char *field;
    const char *settingsKey;
    bool encoded;
    const char *savedText;
};
const QVector<Endpoint> &endpointTable();

// The value to store for one endpoint, before decoding: the country document's login and
// sign-up addresses win over the main document's when present. Empty when the main
// document has no such field.
QString rawEndpointValue(const Endpoint &endpoint, const QJsonObject &mainFields, const CountryEndpoints &country);

} // namespace EndpointDocuments
} // namespace Tavrix
