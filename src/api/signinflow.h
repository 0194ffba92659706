#pragma once

#include <QString>

#include <optional>

namespace Tavrix {

class ApiRequest;

// The decisions of the sign-in form, apart from its widgets: what is sent for each mode,
// which entries are refused before anything is sent, which result code is a success and
// which credentials are kept afterwards.
class SignInFlow
{
public:
    enum Mode { SignIn = 0, SignUp = 1, ResetPassword = 2 };

    // What the user left in the form.
    struct Entered
    {
        QString user;
        QString password;
        QString confirmation;
        QString subscriptionCode;
        bool consent = false;
    };

    // Why the entries cannot be sent: the log line and the text shown to the user.
    struct Refusal
    {
        const char *log = nullptr;
        QString text;
    };

    struct Credentials
    {
        QString user;
        QString password;
    };

    // The banner logged when an action of the mode starts.
    static const char *banner(Mode mode);
    // Blanks are never part of a name or password.
    static QString cleaned(const QString &text);
    // The entries as they are sent: cleaned, except the reset address, which goes as typed.
    static Entered prepared(Mode mode, const Entered &entered);
    // Checks prepared entries; nothing when they may be sent.
    static std::optional<Refusal> refusal(Mode mode, const Entered &prepared);
    // Sends the request of the mode and returns the service's result code.
    static int send(ApiRequest &api, Mode mode, const Entered &prepared);
    static bool succeeded(Mode mode, int code);
    // Sign-in keeps what was tried even when the service refuses it.
    static std::optional<Credentials> storedBeforeRequest(Mode mode, const Entered &prepared);
    // A new account is remembered; a reset forgets the old password together with the name.
    static std::optional<Credentials> storedAfterSuccess(Mode mode, const Entered &prepared);
    // Only a sign-in turns on the automatic sign-in at the next start.
    static bool autoLoginAfterSuccess(Mode mode) { return mode == SignIn; }
    // A sign-in the service refused (wrong password, suspended account) turns it off: the
    // credentials just stored would only be refused again at the next start.
    static bool autoLoginOffAfterFailure(Mode mode, int code);
    // Hands the credentials to the connection and saves them in the settings.
    static void store(const Credentials &credentials);
};

} // namespace Tavrix
