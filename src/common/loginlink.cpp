#include "common/loginlink.h"

#include <QDebug>
#include <QRegularExpression>

#include "common/config.h"

namespace Tavrix {

namespace {

const QString secretParameter = QStringLiteral("value");
const QString maskedValue = QStringLiteral("***");
constexpr int minimumPasswordLength = 6;

} // namespace

QString loginLinkParameter(const QString &text, const QString &name)
{
    const QRegularExpression pattern(name + QStringLiteral("=([^&]+)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return QString();
    const QString value = match.captured(1);
    // Without an "&" before it, the password runs into the value of the parameter in front.
    qDebug().noquote() << "  Found parameter" << name << "="
                       << (name == secretParameter ? maskedValue : maskLoginLinkSecrets(value));
    return value;
}

QString maskLoginLinkSecrets(const QString &text)
{
    static const QRegularExpression secret(QStringLiteral("value=[^&]+"));
    QString masked = text;
    masked.replace(secret, secretParameter + QLatin1Char('=') + maskedValue);
    return masked;
}

bool isLoginLink(const QString &text)
{
    return text.startsWith(QStringLiteral("tavrixvpn://"), Qt::CaseInsensitive);
}

LoginLink parseLoginLink(const QString &text)
{
    LoginLink link;
    if (text.isEmpty())
        return link;
    qDebug().noquote() << "Processing URL scheme input:" << maskLoginLinkSecrets(text);

    if (!isLoginLink(text)) {
        qWarning().noquote() << "Invalid URL scheme format, expected: tavrixvpn://...";
        link.kind = LoginLink::Kind::NotALoginLink;
        return link;
    }

    link.userName = loginLinkParameter(text, QStringLiteral("authenticate"));
    link.password = loginLinkParameter(text, secretParameter).remove(QLatin1Char('/'));

    static const QRegularExpression email(QStringLiteral("^[a-zA-Z0-9._%+-]+@[a-zA-Z0-9.-]+\\.[a-zA-Z]{2,}$"));
    link.userNameValid = !link.userName.isEmpty() && email.match(link.userName).hasMatch();
    link.passwordValid = link.password.size() >= minimumPasswordLength;

    qDebug().noquote() << "Credential validation:";
    qDebug().noquote() << "  Username valid:" << (link.userNameValid ? "true" : "false");
    qDebug().noquote() << "  Password valid:" << (link.passwordValid ? "true" : "false");

    link.kind = link.userNameValid && link.passwordValid ? LoginLink::Kind::Valid : LoginLink::Kind::InvalidCredentials;
    return link;
}

void cacheLoginLinkCredentials(const LoginLink &link)
{
    const std::shared_ptr<Config> config = Config::instance();
    config->setUserName(link.userName, true);
    config->setPassword(link.password, true);
    config->setAutoLogin(true);
    config->save();
}

} // namespace Tavrix
