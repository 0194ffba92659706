#pragma once

#include <QString>

namespace Tavrix {

// A "tavrixvpn://" login link handed to the program on its command line, carrying the
// account's user name ("authenticate") and password ("value").
struct LoginLink
{
    enum class Kind {
        Empty,              // no text: nothing to do
        NotALoginLink,      // another scheme: ignored with a warning
        InvalidCredentials, // the user must sign in by hand
        Valid,
    };

    Kind kind = Kind::Empty;
    QString userName;
    QString password; // with every "/" removed
    bool userNameValid = false;
    bool passwordValid = false;
};

// True when text is meant as a login link (the "tavrixvpn://" scheme, in any case).
bool isLoginLink(const QString &text);

// Parses and checks a link, logging each step. The password never reaches the log.
LoginLink parseLoginLink(const QString &text);

// Stores a valid link's credentials (encoded) with automatic sign-in switched on, and saves.
void cacheLoginLinkCredentials(const LoginLink &link);

// The first value of parameter name in text (searched anywhere, up to the next "&"), as
// written in the link; empty when absent.
QString loginLinkParameter(const QString &text, const QString &name);

// text with the values of every "value" parameter replaced by "***", for logging.
QString maskLoginLinkSecrets(const QString &text);

} // namespace Tavrix
