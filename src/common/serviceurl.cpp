#include "common/serviceurl.h"

#include <QDebug>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

namespace Tavrix {
namespace ServiceUrl {

QUrl overrideOrigin()
{
    const QString text = qEnvironmentVariable("TAVRIXVPN_SERVICE_URL").trimmed();
    if (text.isEmpty())
        return {};
    const QUrl origin(text, QUrl::StrictMode);
    if (!origin.isValid() || origin.scheme().isEmpty() || origin.host().isEmpty()) {
        qWarning() << "⚠️ Ignoring unusable TAVRIXVPN_SERVICE_URL:" << text;
        return {};
    }
    return origin;
}

QUrl address(const QUrl &original)
{
    const QUrl origin = overrideOrigin();
    if (origin.isEmpty() || original.isRelative() || original.host().isEmpty())
        return original;
    QUrl result = original;
    result.setScheme(origin.scheme());
    result.setHost(origin.host());
    result.setPort(origin.port());
    result.setUserInfo(QString());
    return result;
}

QString address(const QString &original)
{
    if (overrideOrigin().isEmpty())
        return original;
    const QUrl url(original);
    if (!url.isValid())
        return original;
    return address(url).toString(QUrl::FullyEncoded);
}

bool trustServiceCertificate()
{
    // The file is read once; later calls only report the outcome.
    static const bool trusted = [] {
        const QString path = qEnvironmentVariable("TAVRIXVPN_SERVICE_CA");
        if (path.isEmpty() || overrideOrigin().isEmpty())
            return false;
        if (!QSslSocket::supportsSsl()) {
            qWarning() << "⚠️ TLS is not available; cannot trust" << path;
            return false;
        }
        const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
        if (certificates.isEmpty()) {
            qWarning() << "⚠️ No certificate could be read from TAVRIXVPN_SERVICE_CA:" << path;
            return false;
        }
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(certificates);
        QSslConfiguration::setDefaultConfiguration(configuration);
        qDebug() << "🔐 Trusting the service certificate of" << overrideOrigin().toString() << "from" << path;
        return true;
    }();
    return trusted;
}

} // namespace ServiceUrl
} // namespace Tavrix
