#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QMap>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

namespace Tavrix {

// Blocking HTTP requests of the account API. Each call waits in a local event loop on the
// calling thread and returns the body with a status: the HTTP status when the server
// answered, -1 for a URL that does not parse, -2 when no HTTP status came back (no
// connection, time-out, TLS or name failure).
class BaseHttpRequest : public QObject
{
    Q_OBJECT
public:
    struct Response
    {
        QByteArray body;
        int status = 0;
    };
    using Headers = QMap<QString, QString>;

    static constexpr int InvalidUrl = -1;
    static constexpr int NetworkError = -2;
    static constexpr int RequestTimeoutMs = 15000;

    explicit BaseHttpRequest(QObject *parent = nullptr);
    ~BaseHttpRequest() override;

    // Form-encoded POST; every header of headers is sent as a raw header.
    Response post(const QString &url, const QByteArray &body, const Headers &headers);
    // Plain GET through the object's own manager (thread of the object).
    Response get(const QString &url);

    // Device description sent with account requests: countryCode, model, osPlatform and
    // Content-Type.
    Headers requestHeaders() const;

    // Plain text of a protected reply: the bytes up to the first NUL, decoded with key.
    static QString decodeText(const QByteArray &bytes, const QString &key);
    // Parses a protected reply (decodeText) as JSON.
    // parseError is set when the text is not JSON or the document is null.
    static QJsonDocument decodeResponse(const QByteArray &bytes, const QString &key, bool *parseError);

    // International calling code of the country of the machine's time zone, -1 when unknown.
    static int currentCallingCode();
    // The same lookup for an English country name (any case), -1 when unknown.
    static int callingCode(const QString &countryName);

    // Time limit of one request; tests shorten it.
    int timeoutMs() const { return m_timeoutMs; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

protected:
    // Progress and error texts of the account calls for the application log.
    static void appLog(const QString &text);

private:
    Response finish(QNetworkReply *reply, bool readBodyOnError, bool verbose);

    QNetworkAccessManager *m_manager = nullptr;
    int m_timeoutMs = RequestTimeoutMs;
};

} // namespace Tavrix
