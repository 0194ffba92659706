#include "vpn/openconnectsession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <openconnect.h>

#include "log/secretmask.h"
#include "platform/commandsocket.h"
#include "vpn/enginelog.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/openconnecttun.h"
#include "vpn/trustdatabase.h"

namespace Tavrix {

int OpenConnectSession::s_formWithoutCredentialsSeen = 0;

namespace {

OpenConnectConnection *controller(void *privdata)
{
    return static_cast<OpenConnectConnection *>(privdata);
}

void logFormText(const char *prefix, const char *text)
{
    if (text && *text)
        engineLog(QString::fromLatin1(prefix) + QString::fromLatin1(text));
}

} // namespace

int OpenConnectSession::validatePeerCert(void *privdata, const char *reason)
{
    Q_UNUSED(reason)
    OpenConnectConnection *conn = controller(privdata);

    unsigned char *der = nullptr;
    const int size = openconnect_get_peer_cert_DER(conn->m_vpninfo, &der);
    if (size <= 0) {
        engineLog(QStringLiteral("Peer's certificate has invalid size!"));
        return -1;
    }
    const QByteArray certificate(reinterpret_cast<const char *>(der), size);
    openconnect_free_cert_info(conn->m_vpninfo, der);

    if (!openconnect_get_peer_cert_hash(conn->m_vpninfo)) {
        engineLog(QStringLiteral("Error getting peer's certificate hash"));
        return -1;
    }

    // Only certificates that no authority of the system vouches for come here. A refusal
    // ends the handshake before the login form: nothing is sent to the server.
    TrustDatabase::Outcome outcome;
    const int verdict = TrustDatabase(conn->m_server).checkServerCertificate(certificate, &outcome);
    if (outcome.verdict == TrustDatabase::Verdict::Changed)
        conn->m_refusedServerKey = {outcome.server, outcome.storedPin, outcome.offeredPin};
    return verdict;
}

int OpenConnectSession::processAuthForm(void *privdata, oc_auth_form *form)
{
    OpenConnectConnection *conn = controller(privdata);

    logFormText("", form->banner);
    logFormText("", form->message);
    logFormText("", form->error);

    if (oc_form_opt_select *group = form->authgroup_opt) {
        const char *choice = nullptr;
        if (group->nr_choices == 1) {
            choice = group->choices[0]->name;
        } else {
            const QByteArray wanted = conn->m_server ? conn->m_server->authGroup().toLatin1() : QByteArray();
            for (int i = 0; i < group->nr_choices; ++i) {
                if (wanted == group->choices[i]->name) {
                    choice = group->choices[i]->name;
                    break;
                }
            }
        }
        if (!choice)
            return OC_FORM_RESULT_CANCELLED;
        openconnect_set_option_value(&group->form, choice);

        if (!conn->m_authFormAnswered) {
            conn->m_authFormAnswered = 1;
            return OC_FORM_RESULT_NEWGROUP;
        }
    }

    // Stays 1 while no credential has been filled in.
    int match = 1;
    for (oc_form_opt *opt = form->opts; opt; opt = opt->next) {
        if (opt->flags & OC_FORM_OPT_IGNORE)
            continue;
        const QString name = QString::fromLatin1(opt->name ? opt->name : "");
        switch (opt->type) {
        case OC_FORM_OPT_SELECT:
            engineLog(QStringLiteral("Select form: ") + name);
            if (form->authgroup_opt && opt == &form->authgroup_opt->form)
                break;
            return OC_FORM_RESULT_CANCELLED;
        case OC_FORM_OPT_TEXT:
            engineLog(QStringLiteral("Text form: ") + name);
            if (conn->m_usernameRejected || conn->m_sessionUsername.isEmpty())
                return OC_FORM_RESULT_CANCELLED;
            match = name.compare(QLatin1String("username"), Qt::CaseInsensitive);
            if (match != 0)
                return OC_FORM_RESULT_CANCELLED;
            openconnect_set_option_value(opt, conn->m_sessionUsername.toLatin1().constData());
            break;
        case OC_FORM_OPT_PASSWORD:
            engineLog(QStringLiteral("Password form: ") + name);
            if (conn->m_passwordRejected || conn->m_sessionPassword.isEmpty())
                return OC_FORM_RESULT_CANCELLED;
            match = name.compare(QLatin1String("password"), Qt::CaseInsensitive);
            if (match != 0)
                return OC_FORM_RESULT_CANCELLED;
            openconnect_set_option_value(opt, conn->m_sessionPassword.toLatin1().constData());
            break;
        default:
            engineLog(QStringLiteral("unknown type ") + QString::number(opt->type));
            break;
        }
    }

    if (s_formWithoutCredentialsSeen != 0 && match == 1)
        return OC_FORM_RESULT_CANCELLED;
    s_formWithoutCredentialsSeen = match;
    return OC_FORM_RESULT_OK;
}

void OpenConnectSession::progress(void *privdata, int level, const char *format, ...)
{
    if (level == PRG_TRACE)
        return;
    OpenConnectConnection *conn = controller(privdata);

    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);

    size_t length = strlen(buffer);
    if (length > 0 && buffer[length - 1] == '\n')
        buffer[--length] = '\0';

    QByteArray cookie;
    if (conn->m_vpninfo) {
        if (const char *current = openconnect_get_cookie(conn->m_vpninfo))
            cookie = current;
    }
    engineLog(maskSecrets(QString::fromUtf8(buffer, int(length)), cookie, conn->m_sessionPassword));
}

QString OpenConnectSession::maskSecrets(const QString &text, const QByteArray &cookie, const QString &password)
{
    QStringList known{QString::fromLatin1(cookie), password};
    // The cookie is usually "webvpn=VALUE"; its value alone shows up too.
    const int equals = cookie.indexOf('=');
    if (equals >= 0 && equals + 1 < cookie.size())
        known.append(QString::fromLatin1(cookie.mid(equals + 1)));
    return Tavrix::maskSecrets(text, known);
}

void OpenConnectSession::stats(void *privdata, const oc_stats *stats)
{
    emit controller(privdata)->statsChanged(stats->tx_bytes, stats->rx_bytes);
}

void OpenConnectSession::setupTun(void *privdata)
{
    OpenConnectConnection *conn = controller(privdata);
    QElapsedTimer clock;
    clock.start();
    QString failure;
    if (conn->m_helperTun) {
        if (!conn->m_helperTun->open(conn->m_vpninfo, &failure) && failure.isEmpty())
            failure = QStringLiteral("the helper gave no device");
    } else {
        const QByteArray script =
            (QCoreApplication::applicationDirPath() + QDir::separator() + QString::fromLatin1(tunScriptName()))
                .toUtf8();
        const std::string command = tunScriptCommand(script.toStdString(), conn->m_engineLogFolder.toStdString());
        const int result = openconnect_setup_tun_device(conn->m_vpninfo, command.c_str(), nullptr);
        OpenConnectConnection::importEngineLog(conn->m_engineLogFolder);
        if (result != 0)
            failure = QString::number(result);
    }
    if (!failure.isEmpty()) {
        // Without the device no traffic is protected: never report CONNECTED for it. The
        // cancel ends the main loop, and the session with IDLE.
        engineLog(QStringLiteral("Setting up the tunnel device failed (%1); ending the session").arg(failure));
        conn->sendStop();
        return;
    }
    engineLog(QStringLiteral("Tunnel device ready in %1 ms").arg(clock.elapsed()));
    if (!conn->m_tunnelReported) {
        conn->m_tunnelReported = true;
        conn->reportEngine(OpenConnectConnection::CONNECTED, conn->m_sessionEpoch);
    }
}

void OpenConnectSession::reconnected(void *privdata)
{
    // The library got its session back on its own (same cookie, same tunnel).
    OpenConnectConnection *conn = controller(privdata);
    engineLog(QStringLiteral("OpenConnect session re-established"));
    // The server may hand out other routes or DNS servers with the new session.
    if (conn->m_helperTun)
        conn->m_helperTun->refresh(conn->m_vpninfo);
    conn->reportEngine(OpenConnectConnection::CONNECTED, conn->m_sessionEpoch);
}

void OpenConnectSession::socketOpened(void *privdata, int fd)
{
    OpenConnectConnection *conn = controller(privdata);
    // A new TLS connection once the tunnel is up: the library lost its server and is getting
    // the session back (DTLS sockets come and go on their own and say nothing of that).
    // The tunnel script told the same by its "attempt-reconnect" run; with the helper's
    // device no script runs, and this is what remains.
    if (conn->m_tunnelReported && isStreamSocket(fd)) {
        engineLog(QStringLiteral("OpenConnect lost its server connection; getting the session back"));
        conn->reportEngine(OpenConnectConnection::CONNECTING, conn->m_sessionEpoch);
        // The socket connects once this returns: its way to the server must be outside the
        // tunnel (the tunnel script did the same on its "attempt-reconnect" run).
        if (conn->m_helperTun)
            conn->m_helperTun->renewServerRoute();
    }
}

} // namespace Tavrix
