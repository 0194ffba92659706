#pragma once

#include <QString>
#include <QStringList>

namespace Tavrix {
namespace Dev {

// The service's self-signed TLS certificate for 127.0.0.1 and localhost. Clients trust it
// by adding cert.pem to their CA list.
struct Certificate
{
    QString certPath; // <dir>/cert.pem
    QString keyPath;  // <dir>/key.pem (owner-only)
    QString pem;      // the certificate in PEM form
};

// Reuses cert.pem / key.pem in dir when they match, name every host of `names` and stay
// valid for at least a day more, otherwise makes a new pair there. False with error text
// when neither works.
bool ensureCertificate(const QString &dir, const QStringList &names, Certificate *out, QString *error);

} // namespace Dev
} // namespace Tavrix
