#include "log/secretmask.h"

#include <QRegularExpression>

#include <algorithm>

namespace Tavrix {

const QString hiddenSecret = QStringLiteral("<hidden>");

QString maskSecrets(const QString &text, const QStringList &knownSecrets)
{
    QString masked = text;
    // Longest first, so that a cookie is hidden whole before its value alone is looked for.
    QStringList secrets = knownSecrets;
    secrets.removeAll(QString());
    std::sort(secrets.begin(), secrets.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &secret : secrets)
        masked.replace(secret, hiddenSecret);

    // Cookies that are not known to the caller: headers and name=value pairs of session cookies.
    static const QRegularExpression cookiePattern(
        QStringLiteral(
            "((?:set-)?cookie:\\s*[^=;\\s]+=|webvpn[a-z_]*=|COOKIE=[\"']?|session[a-z_-]*=)([^;\\s\"'<>&]+)"),
        QRegularExpression::CaseInsensitiveOption);
    // Form, query and command-line items that carry credentials.
    static const QRegularExpression itemPattern(
        QStringLiteral("(\\b(?:pass|passwd|password|auth_?token|access_?token|refresh_?token|token|secret|"
                       "api_?key|private_?key|preshared_?key)=)([^&\\s\"'<>]+)"),
        QRegularExpression::CaseInsensitiveOption);
    // The same names as JSON members.
    static const QRegularExpression jsonPattern(
        QStringLiteral("(\"(?:pass|passwd|password|auth_?token|access_?token|refresh_?token|token|secret|"
                       "api_?key|private_?key|preshared_?key)\"\\s*:\\s*\")((?:[^\"\\\\]|\\\\.)+)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression bearerPattern(QStringLiteral("(\\bBearer\\s+)([^\\s\"']+)"),
                                                  QRegularExpression::CaseInsensitiveOption);
    const QString kept = QStringLiteral("\\1") + hiddenSecret;
    masked.replace(cookiePattern, kept);
    masked.replace(itemPattern, kept);
    masked.replace(jsonPattern, kept);
    masked.replace(bearerPattern, kept);
    return masked;
}

} // namespace Tavrix
