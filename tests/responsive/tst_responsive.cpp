// The window never freezes: the real client signs in, turns the kill switch on, connects and
// disconnects with every engine against real servers (so the firewall scripts run before each
// connect and after each disconnect), turns the switch off, runs the tools page's test and
// signs out, while a probe on the window's thread notes every stall. Any stall over 100 ms of
// the client's own making fails (time spent only waiting for a processor on a busy machine
// does not count, and an action over the limit is measured once more: a real freeze repeats).
// The firewall state after each step proves the scripts still ran in order.

#include <QtTest>

#include "responsivelab.h"
#include "testmain.h"

using TavrixTest::ResponsiveLab;
using TavrixTest::Stall;

namespace {

constexpr double stallLimitMs = 100;

QString binProgram(const QString &name)
{
    return qEnvironmentVariable("TAVRIX_BIN_DIR") + QLatin1Char('/') + name;
}

} // namespace

class ResponsiveTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyStepCompletes();
    void noStall_data();
    void noStall();

private:
    ResponsiveLab m_lab;
    QByteArray m_output;
    int m_code = -1;
    QList<Stall> m_stalls;
};

void ResponsiveTest::initTestCase()
{
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    const QString client = binProgram(QStringLiteral("tavrix-responsive-client"));
    m_code = m_lab.runClient(client, {}, &m_output, 180000);
    m_stalls = ResponsiveLab::stalls(m_output);
    // A freeze of the client's making shows every time; a tick lost once to a machine busy
    // with other work (page faults, a compiler's memory bandwidth) does not. Actions over the
    // limit get a second run, and the smaller of the two figures counts.
    QStringList again;
    for (const Stall &stall : m_stalls) {
        if (stall.ownMs > stallLimitMs)
            again << (stall.engine == QLatin1String("all") ? QStringLiteral("openconnect") : stall.engine);
    }
    if (m_code == 0 && !again.isEmpty()) {
        again.removeDuplicates();
        QByteArray second;
        if (m_lab.runClient(client, again, &second, 180000) == 0) {
            for (const Stall &retry : ResponsiveLab::stalls(second)) {
                for (Stall &stall : m_stalls) {
                    if (stall.action == retry.action && stall.engine == retry.engine && retry.ownMs < stall.ownMs)
                        stall = retry;
                }
            }
        }
        m_output += "\nSECOND RUN " + again.join(QLatin1Char(',')).toUtf8() + "\n" + second;
    }
    QFile log(m_lab.lab().dir() + QStringLiteral("/client.log"));
    if (log.open(QIODevice::WriteOnly))
        log.write(m_output);
}

void ResponsiveTest::cleanupTestCase()
{
    m_lab.down();
}

void ResponsiveTest::everyStepCompletes()
{
    QStringList failures;
    for (const QByteArray &line : m_output.split('\n')) {
        // The log-out question is expected; any other dialog is a failure shown to the user.
        if (line.startsWith("FAIL ") ||
            (line.startsWith("DIALOG ") && !line.startsWith("DIALOG Would you like to log out?")))
            failures << QString::fromUtf8(line);
    }
    if (m_code != 0 || !failures.isEmpty())
        qWarning().noquote() << QString::fromUtf8(m_output.right(8000));
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
    QCOMPARE(m_code, 0);
    // Five actions once, connect and disconnect for each of the five engines of the list.
    QCOMPARE(m_stalls.size(), 5 + 2 * 5);
}

void ResponsiveTest::noStall_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("engine");
    for (const char *action : {"signin", "killswitch-on", "killswitch-off", "tools", "logout"})
        QTest::newRow(action) << action << "all";
    for (const char *engine : {"openconnect", "openvpn", "shadowsocks", "v2ray", "wireguard"}) {
        for (const char *action : {"connect", "disconnect"})
            QTest::addRow("%s %s", action, engine) << action << engine;
    }
}

void ResponsiveTest::noStall()
{
    QFETCH(QString, action);
    QFETCH(QString, engine);
    const auto found = std::find_if(m_stalls.cbegin(), m_stalls.cend(),
                                    [&](const Stall &s) { return s.action == action && s.engine == engine; });
    QVERIFY2(found != m_stalls.cend(), "not measured");
    qInfo("%s %s: largest stall %.1f ms (own %.1f ms), 99th percentile %.1f ms", qPrintable(action), qPrintable(engine),
          found->maxMs, found->ownMs, found->p99Ms);
    QVERIFY2(found->ownMs <= stallLimitMs, qPrintable(QStringLiteral("the window froze for %1 ms").arg(found->ownMs)));
}

int main(int argc, char *argv[])
{
    const QString reason = TavrixTest::tunnelSkipReason(ResponsiveLab::programsNeeded());
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: responsiveness test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    ResponsiveTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_responsive.moc"
