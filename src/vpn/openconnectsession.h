#pragma once

#include <QByteArray>
#include <QString>

struct oc_auth_form;
struct oc_stats;

namespace Tavrix {

class OpenConnectConnection;

// The OpenConnect library's callbacks. They run on the session thread with the controller
// as their private data, stay small and never touch widgets.
class OpenConnectSession
{
public:
    // Certificate check: 0 accepts the server, -1 rejects it.
    static int validatePeerCert(void *privdata, const char *reason);
    // Authentication form: OK (0), cancelled (1) or new group (2).
    static int processAuthForm(void *privdata, oc_auth_form *form);
    static void progress(void *privdata, int level, const char *format, ...) __attribute__((format(printf, 3, 4)));
    static void stats(void *privdata, const oc_stats *stats);
    static void setupTun(void *privdata);
    static void reconnected(void *privdata);
    // Every socket the library opens (it may bind it; we only look at it).
    static void socketOpened(void *privdata, int fd);

    // The progress text as it goes to the log: session cookies and the password replaced.
    static QString maskSecrets(const QString &text, const QByteArray &cookie, const QString &password);

private:
    // Forms with nothing to fill seen in a row; a second one is cancelled so that a server
    // that keeps asking for nothing cannot loop the session.
    static int s_formWithoutCredentialsSeen;
};

} // namespace Tavrix
