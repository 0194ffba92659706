#include "api/basehttprequest.h"

#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSysInfo>
#include <QThread>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>

#include <memory>

#include "common/crypto.h"
#include "common/serviceurl.h"
#include "log/logger.h"
#include "platform/deviceinfo.h"

namespace Tavrix {

namespace {

// Lenient parse; only an absolute web address with a host can be sent.
QUrl requestUrl(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return {};
    return url;
}

QHash<QString, int> loadCallingCodes()
{
    QHash<QString, int> codes;
    // The resource ships with the program; both names have been used for it.
    for (const char *path : {":/assets/country_calling_code_map.txt", ":/misc/country_calling_code_map.txt"}) {
        QFile file(QString::fromLatin1(path));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine());
            const int comma = line.indexOf(QLatin1Char(','));
            if (comma < 0)
                continue;
            QString name = line.left(comma);
            name.remove(QLatin1Char('"'));
            bool ok = false;
            const int code = line.mid(comma + 1).trimmed().toInt(&ok);
            if (ok)
                codes.insert(name.toLower(), code);
        }
        break;
    }
    return codes;
}

const QHash<QString, int> &callingCodes()
{
    static const QHash<QString, int> codes = loadCallingCodes();
    return codes;
}

} // namespace

BaseHttpRequest::BaseHttpRequest(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
{
    ServiceUrl::trustServiceCertificate();
}

BaseHttpRequest::~BaseHttpRequest() = default;

BaseHttpRequest::Response BaseHttpRequest::post(const QString &url, const QByteArray &body, const Headers &headers)
{
    const QUrl target = requestUrl(url);
    if (target.isEmpty())
        return {QByteArray(), InvalidUrl};

    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        request.setRawHeader(it.key().toUtf8(), it.value().toUtf8());

    // A manager of the calling thread: the sign-in page posts from worker threads.
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.post(request, body);
    return finish(reply, true, true);
}

BaseHttpRequest::Response BaseHttpRequest::get(const QString &url)
{
    const QUrl target = requestUrl(url);
    if (target.isEmpty())
        return {QByteArray(), InvalidUrl};
    // The object's manager serves only its own thread; a call from elsewhere gets its own.
    std::unique_ptr<QNetworkAccessManager> localManager;
    QNetworkAccessManager *manager = m_manager;
    if (QThread::currentThread() != m_manager->thread()) {
        localManager = std::make_unique<QNetworkAccessManager>();
        manager = localManager.get();
    }
    QNetworkReply *reply = manager->get(QNetworkRequest(target));
    return finish(reply, false, false);
}

BaseHttpRequest::Response BaseHttpRequest::finish(QNetworkReply *reply, bool readBodyOnError, bool verbose)
{
    // Certificate problems are reported, never ignored: the dev service is trusted through
    // its CA instead (ServiceUrl::trustServiceCertificate).
    connect(reply, &QNetworkReply::sslErrors, reply, [reply](const QList<QSslError> &errors) {
        for (const QSslError &error : errors)
            qWarning() << "⚠️ SSL Error for" << reply->url().toString() << ":" << error.errorString();
    });

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, &loop, [&] {
        if (reply->isRunning())
            reply->abort();
        loop.quit();
    });
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(m_timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    timer.stop();

    Response response;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->error() != QNetworkReply::NoError) {
        if (verbose)
            qDebug() << "network error.............................";
        appLog(tr("Network error : code - ") + QString::number(reply->error()));
        appLog(tr("Network error : reason - ") + reply->errorString());
        response.status = statusAttribute.isValid() ? statusAttribute.toInt() : NetworkError;
        if (statusAttribute.isValid() && readBodyOnError)
            response.body = reply->readAll();
    } else {
        response.status = statusAttribute.toInt();
        if (verbose)
            qDebug() << "http_status_code:::" << response.status;
        response.body = reply->readAll();
    }
    delete reply;
    return response;
}

BaseHttpRequest::Headers BaseHttpRequest::requestHeaders() const
{
    Headers headers;
    headers.insert(QStringLiteral("countryCode"), QString::number(currentCallingCode()));
    headers.insert(QStringLiteral("model"), DeviceInfo::computerSystem().model);
    headers.insert(QStringLiteral("osPlatform"), QSysInfo::productType());
    headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded"));
    return headers;
}

QString BaseHttpRequest::decodeText(const QByteArray &bytes, const QString &key)
{
    const int nul = bytes.indexOf('\0');
    return decode(QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul)), key);
}

QJsonDocument BaseHttpRequest::decodeResponse(const QByteArray &bytes, const QString &key, bool *parseError)
{
    const QString plain = decodeText(bytes, key);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(plain.toUtf8(), &error);
    if (parseError)
        *parseError = error.error != QJsonParseError::NoError || document.isNull();
    return document;
}

int BaseHttpRequest::callingCode(const QString &countryName)
{
    return callingCodes().value(countryName.toLower(), -1);
}

int BaseHttpRequest::currentCallingCode()
{
    const QLocale::Country country = QDateTime::currentDateTime().timeZone().country();
    if (country == QLocale::AnyCountry)
        return -1;
    return callingCode(QLocale::countryToString(country));
}

void BaseHttpRequest::appLog(const QString &text)
{
    Logger::instance()->log(text, 1, 4);
}

} // namespace Tavrix
