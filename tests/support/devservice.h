#pragma once

// Test-side launcher of the local development service (build/bin/tavrix-devservice):
// starts it on a free port, hands out its address and certificate, and drives its test
// switches. Header-only so any test executable can include it.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStringList>
#include <QTimer>
#include <QUrlQuery>

#include <memory>

namespace TavrixTest {

class DevService
{
public:
    DevService() = default;
    DevService(const DevService &) = delete;
    DevService &operator=(const DevService &) = delete;
    ~DevService() { stop(); }

    static QString program()
    {
        QString dir = qEnvironmentVariable("TAVRIX_BIN_DIR");
        if (dir.isEmpty())
            dir = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
        return QDir(dir).filePath(QStringLiteral("tavrix-devservice"));
    }

    // Starts the service on a free port and waits (at most 10 s) for its address and CA lines.
    bool start(const QStringList &extraArgs = {})
    {
        stop();
        m_process.reset(new QProcess);
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->setReadChannel(QProcess::StandardOutput);
        m_process->start(program(), QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extraArgs);
        if (!m_process->waitForStarted(5000)) {
            qWarning("devservice: cannot start %s", qPrintable(program()));
            stop();
            return false;
        }
        QDeadlineTimer deadline(10000);
        while (m_url.isEmpty() || m_caFile.isEmpty()) {
            if (!m_process->canReadLine() &&
                !m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
                if (deadline.hasExpired() || m_process->state() != QProcess::Running)
                    break;
                continue;
            }
            while (m_process->canReadLine()) {
                const QString line = QString::fromUtf8(m_process->readLine()).trimmed();
                if (line.startsWith(QLatin1String("LISTENING ")))
                    m_url = line.mid(10);
                else if (line.startsWith(QLatin1String("CA ")))
                    m_caFile = line.mid(3);
            }
        }
        if (m_url.isEmpty() || m_caFile.isEmpty()) {
            qWarning("devservice: no address within 10 s");
            stop();
            return false;
        }
        return true;
    }

    QString url() const { return m_url; }
    QString caFile() const { return m_caFile; }
    qint64 pid() const { return m_process ? m_process->processId() : 0; }

    // Points clients in this process at the service.
    void exportEnvironment() const
    {
        qputenv("TAVRIXVPN_SERVICE_URL", m_url.toUtf8());
        qputenv("TAVRIXVPN_SERVICE_CA", m_caFile.toLocal8Bit());
    }

    // Makes requests to path misbehave: normal | down | slow | never | empty | malformed | status.
    bool set(const QString &path, const QString &mode, int status = 0, int delayMs = 0, const QString &message = {})
    {
        QUrlQuery form;
        form.addQueryItem(QStringLiteral("path"), path);
        form.addQueryItem(QStringLiteral("mode"), mode);
        if (status)
            form.addQueryItem(QStringLiteral("status"), QString::number(status));
        if (delayMs)
            form.addQueryItem(QStringLiteral("delay_ms"), QString::number(delayMs));
        if (!message.isEmpty())
            form.addQueryItem(QStringLiteral("message"), message);
        return control(QStringLiteral("/__control/set"), encoded(form)) == "ok";
    }

    // Makes requests to path answer body as it is, with status (a JSON content type).
    bool setBody(const QString &path, const QByteArray &body, int status = 200)
    {
        QUrlQuery form;
        form.addQueryItem(QStringLiteral("path"), path);
        form.addQueryItem(QStringLiteral("mode"), QStringLiteral("body"));
        form.addQueryItem(QStringLiteral("status"), QString::number(status));
        form.addQueryItem(QStringLiteral("body"), QString::fromUtf8(body));
        return control(QStringLiteral("/__control/set"), encoded(form)) == "ok";
    }

    // Every path back to normal; request log and account changes forgotten.
    bool reset() { return control(QStringLiteral("/__control/reset"), QByteArray()) == "ok"; }

    // [{"method","path","query":{},"form":{},"headers":{},"body"}] since the last reset.
    QJsonArray requests() { return QJsonDocument::fromJson(control(QStringLiteral("/__control/requests"))).array(); }

    // A plain request to the service, trusted through its CA; status -2 on a network error.
    struct Answer
    {
        int status = -2;
        QByteArray body;
    };
    Answer request(const QString &path, const QByteArray *postBody = nullptr, int timeoutMs = 5000)
    {
        Answer answer;
        if (m_url.isEmpty())
            return answer;
        if (!m_manager)
            m_manager.reset(new QNetworkAccessManager);
        QNetworkRequest request(QUrl(m_url + path));
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setCaCertificates(ssl.caCertificates() + QSslCertificate::fromPath(m_caFile));
        request.setSslConfiguration(ssl);
        QNetworkReply *reply;
        if (postBody) {
            request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
            reply = m_manager->post(request, *postBody);
        } else {
            reply = m_manager->get(request);
        }
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, reply, &QNetworkReply::abort);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        timer.start(timeoutMs);
        if (!reply->isFinished())
            loop.exec();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid()) {
            answer.status = status.toInt();
            answer.body = reply->readAll();
        }
        reply->deleteLater();
        return answer;
    }

    // SIGTERM, then kill after 3 s.
    void stop()
    {
        if (m_process) {
            if (m_process->state() != QProcess::NotRunning) {
                m_process->terminate();
                if (!m_process->waitForFinished(3000)) {
                    m_process->kill();
                    m_process->waitForFinished(3000);
                }
            }
            m_process.reset();
        }
        m_manager.reset();
        m_url.clear();
        m_caFile.clear();
    }

private:
    // QUrlQuery leaves "+" as it is, which the service would read as a space.
    static QByteArray encoded(const QUrlQuery &form)
    {
        return form.toString(QUrl::FullyEncoded).replace(QLatin1Char('+'), QLatin1String("%2B")).toUtf8();
    }
    QByteArray control(const QString &path, const QByteArray &postBody)
    {
        const Answer a = request(path, &postBody);
        return a.status == 200 ? a.body : QByteArray();
    }
    QByteArray control(const QString &path)
    {
        const Answer a = request(path);
        return a.status == 200 ? a.body : QByteArray();
    }

    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QNetworkAccessManager> m_manager;
    QString m_url;
    QString m_caFile;
};

} // namespace TavrixTest
