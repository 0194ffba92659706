#pragma once

// Drives the OpenConnect client program (tavrix-session-client) inside the client namespace
// of a NetnsLab. Shared by the end-to-end test and the benchmark.

#include "labdriver.h"

namespace TavrixTest {

class SessionClient : public LabDriver
{
public:
    // wrapper: a command the client program is started through (its last argument).
    // dataDir: the client's data folder (its stored server keys); its own empty one by default.
    SessionClient(NetnsLab &lab, const QString &user, const QString &password, const QStringList &wrapper = {},
                  const QString &dataDir = QString())
        : LabDriver(lab, 20000, 0)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The session's private folders are made in this run's own temporary folder.
        environment.insert(QStringLiteral("TMPDIR"), home());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home());
        environment.insert(QStringLiteral("XDG_DATA_HOME"),
                           dataDir.isEmpty() ? home() + QStringLiteral("/data") : dataDir);
        if (launch(wrapper + QStringList{programPath()}, environment)) {
            send(QStringLiteral("host %1:%2").arg(NetnsLab::serverAddress).arg(OcservServer::port));
            send(QStringLiteral("user ") + user);
            send(QStringLiteral("pass ") + password);
        }
    }

    // The client program lives beside the client (and its tunnel script).
    static QString programPath() { return buildBinDir() + QStringLiteral("/tavrix-session-client"); }

    QString tmpDir() const { return home(); }

    // A TCP round trip from the client namespace: "PROBE ok" or "PROBE fail ...".
    QString probe(const QString &address, int port)
    {
        send(QStringLiteral("probe %1 %2").arg(address).arg(port));
        return waitFor(QStringLiteral("PROBE "));
    }
};

} // namespace TavrixTest
