#pragma once

#include <QJsonObject>
#include <QString>

namespace Tavrix {
namespace Dev {

// The configuration documents of the three sources. Every endpoint value that the client
// decodes is protected with the endpoint key; all addresses point back at origin.
class ConfigDocuments
{
public:
    explicit ConfigDocuments(const QString &origin)
        : m_origin(origin)
    {
    }

    // Firestore REST: the document, and the listing of its "apis" sub-collection.
    QJsonObject firestoreDocument(const QString &project, const QString &document) const;
    QJsonObject firestoreListing(const QString &project, const QString &document) const;
    // The relays serve the same fields; their country document carries the default sign-in
    // and sign-up addresses at the top and the per-country listing beside them.
    QJsonObject relayMain() const;
    QJsonObject relayCountry() const;

    // Countries with a sign-in address of their own (ISO alpha-2, upper case).
    static QStringList countriesWithOwnSignIn();

private:
    QJsonObject fields() const;
    QJsonObject countryDocument(const QString &parent, const QString &code) const;
    QString url(const char *path) const;

    QString m_origin;
};

} // namespace Dev
} // namespace Tavrix
