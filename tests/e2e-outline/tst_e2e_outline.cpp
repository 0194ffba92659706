// The Outline runner against a real Shadowsocks server: ss-server in one network namespace,
// the client (our controller, in a small program) with the tun2socks stand-in in another.

#include <QtTest>

#include "netns.h"
#include "outlinelab.h"
#include "testmain.h"

using TavrixTest::NetnsLab;
using TavrixTest::OutlineDriver;
using TavrixTest::OutlineLab;

namespace {

const QList<int> connected{1, 2};
const QList<int> idle{0};

} // namespace

class TestOutlineE2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void connectCarriesTrafficAndDisconnectRestoresDirect();
    void reconnectRightAfterDisconnectCarriesTraffic();
    void disconnectWhileConnectingWins();
    void quitWhileConnectedTakesTunnelDown();
    void missingTunnelProgramEndsIdle();
    void wrongPasswordCarriesNothingAndSaysSo();
    void listenerOnTheRedirectPort_data();
    void listenerOnTheRedirectPort();

private:
    NetnsLab m_lab;
    std::unique_ptr<OutlineLab> m_outline;
};

void TestOutlineE2e::initTestCase()
{
    const QString skip = TavrixTest::tunnelSkipReason({"nft", "ss-server", "ss-redir", "ss-tunnel", "curl", "python3"});
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    m_outline = std::make_unique<OutlineLab>(m_lab);
    QString error;
    QVERIFY2(m_outline->up(&error), qPrintable(error));
}

void TestOutlineE2e::cleanupTestCase()
{
    m_outline.reset();
    m_lab.down();
}

void TestOutlineE2e::init()
{
    QVERIFY(m_outline->setTunnelProgramPresent(true));
    QVERIFY2(m_outline->waitForNoLeftovers(), qPrintable(m_outline->leftovers().join(' ')));
}

void TestOutlineE2e::connectCarriesTrafficAndDisconnectRestoresDirect()
{
    // Without the tunnel the inside address refuses the client, and its name does not resolve.
    QVERIFY(m_outline->curl(m_outline->insideUrl()) != 0);
    QVERIFY(m_outline->curl(m_outline->insideNameUrl()) != 0);
    QVERIFY(!m_outline->udpRoundTrip());

    OutlineDriver driver(m_lab, *m_outline, QString::fromLatin1(OutlineLab::password));
    QVERIFY(driver.isRunning());
    QCOMPARE(driver.connectVpn(), connected);
    // No IDLE follows: the final check found the tunnel program running.
    QVERIFY(driver.statusesUntil({0}, 500).isEmpty());

    // Plain programs, no proxy settings: TCP, DNS and other UDP go through the server.
    QByteArray body;
    QCOMPARE(m_outline->curl(m_outline->insideUrl(), &body), 0);
    QCOMPARE(body, m_outline->marker());
    QCOMPARE(m_outline->curl(m_outline->insideNameUrl(), &body), 0);
    QCOMPARE(body, m_outline->marker());
    QVERIFY(m_outline->udpRoundTrip());
    QVERIFY(m_outline->leftovers().contains(QStringLiteral("table")));
    QVERIFY(m_outline->leftovers().contains(QStringLiteral("interface")));

    // The secret is on no running command line, in no file left behind, in no log line.
    QVERIFY2(m_outline->commandLinesContaining(OutlineLab::password).isEmpty(),
             qPrintable(m_outline->commandLinesContaining(OutlineLab::password).join(' ')));
    QVERIFY(QDir(driver.tmpDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size() <= 1);
    QDirIterator files(driver.tmpDir(), QDir::Files, QDirIterator::Subdirectories);
    QVERIFY2(!files.hasNext(), qPrintable(files.hasNext() ? files.next() : QString()));
    QVERIFY2(driver.logDump().contains(QStringLiteral("tun2socks > tun2socks: tunnel up on TavrixVPN")),
             qPrintable(driver.logDump()));

    QCOMPARE(driver.disconnectVpn(), idle);
    QVERIFY2(m_outline->waitForNoLeftovers(), qPrintable(m_outline->leftovers().join(' ')));
    QCOMPARE(m_outline->curl(m_outline->directUrl(), &body), 0);
    QCOMPARE(body, m_outline->marker());
    QVERIFY(m_outline->curl(m_outline->insideUrl()) != 0);
    QVERIFY(!m_outline->udpRoundTrip());
    QVERIFY2(!driver.logDump().contains(QString::fromLatin1(OutlineLab::password)), "the password reached the log");
}

// A change of server disconnects and connects again at once: the first tunnel's clean-up must
// not take the second one's table, interface or routes along.
void TestOutlineE2e::reconnectRightAfterDisconnectCarriesTraffic()
{
    OutlineDriver driver(m_lab, *m_outline, QString::fromLatin1(OutlineLab::password));
    QCOMPARE(driver.connectVpn(), connected);
    driver.send(QStringLiteral("disconnect"));
    driver.send(QStringLiteral("connect"));
    QCOMPARE(driver.statusesUntil({2}), (QList<int>{0, 1, 2}));
    QVERIFY2(driver.statusesUntil({0}, 1000).isEmpty(), qPrintable(driver.logDump().right(900)));
    QCOMPARE(m_outline->curl(m_outline->insideUrl()), 0);
    QVERIFY(m_outline->udpRoundTrip());
    QCOMPARE(driver.disconnectVpn(), idle);
    QVERIFY2(m_outline->waitForNoLeftovers(), qPrintable(m_outline->leftovers().join(' ')));
}

// The user gives up while the tunnel is still coming up: IDLE, and no late CONNECTED after
// it; the runners of given-up attempts do not pile up.
void TestOutlineE2e::disconnectWhileConnectingWins()
{
    OutlineDriver driver(m_lab, *m_outline, QString::fromLatin1(OutlineLab::password));
    for (int cycle = 0; cycle < 3; ++cycle) {
        driver.send(QStringLiteral("connect"));
        QCOMPARE(driver.statusesUntil({1}), (QList<int>{1}));
        QCOMPARE(driver.disconnectVpn(), idle);
        QVERIFY2(driver.statusesUntil({2}, 3000).isEmpty(), qPrintable(driver.logDump().right(2000)));
        QVERIFY2(m_outline->waitForNoLeftovers(), qPrintable(m_outline->leftovers().join(' ') + QLatin1Char('\n') +
                                                             m_outline->processesOfOurs().join('\n') +
                                                             QLatin1Char('\n') + driver.logDump().right(3000)));
    }
    QCOMPARE(driver.connectVpn(), connected);
    QVERIFY2(m_outline->curl(m_outline->insideUrl()) == 0,
             qPrintable(m_outline->leftovers().join(' ') + QLatin1Char('\n') + driver.logDump().right(900)));
    QCOMPARE(driver.disconnectVpn(), idle);
    driver.send(QStringLiteral("runners"));
    const QString runners = driver.waitFor(QStringLiteral("RUNNERS "));
    QVERIFY2(!runners.isEmpty() && runners.section(' ', 1, 1).toInt() <= 1, qPrintable(runners));
    QVERIFY2(m_outline->waitForNoLeftovers(), qPrintable(m_outline->leftovers().join(' ')));
}

void TestOutlineE2e::quitWhileConnectedTakesTunnelDown()
{
    OutlineDriver driver(m_lab, *m_outline, QString::fromLatin1(OutlineLab::password));
    QCOMPARE(driver.connectVpn(), connected);
    QCOMPARE(m_outline->curl(m_outline->insideUrl()), 0);
    QVERIFY(driver.quit());
    QVERIFY2(m_outline->waitForNoLeftovers(), qPrintable(m_outline->leftovers().join(' ')));
    QCOMPARE(m_outline->curl(m_outline->directUrl()), 0);
}

void TestOutlineE2e::missingTunnelProgramEndsIdle()
{
    QVERIFY(m_outline->setTunnelProgramPresent(false));
    OutlineDriver driver(m_lab, *m_outline, QString::fromLatin1(OutlineLab::password));
    QCOMPARE(driver.connectVpn(), connected);
    QCOMPARE(driver.statusesUntil({0}, 10000), idle);
    QVERIFY2(m_outline->waitForNoLeftovers(), qPrintable(m_outline->leftovers().join(' ')));
    QCOMPARE(m_outline->curl(m_outline->directUrl()), 0);
}

void TestOutlineE2e::wrongPasswordCarriesNothingAndSaysSo()
{
    OutlineDriver driver(m_lab, *m_outline, QStringLiteral("not-the-password"));
    QCOMPARE(driver.connectVpn(), connected);
    QVERIFY(m_outline->curl(m_outline->insideUrl(), nullptr, 2) != 0);
    QVERIFY2(driver.logDump().contains(QStringLiteral("the password or cipher is probably wrong")),
             qPrintable(driver.logDump()));
    QCOMPARE(driver.disconnectVpn(), idle);
    QVERIFY2(m_outline->waitForNoLeftovers(), qPrintable(m_outline->leftovers().join(' ')));
}

// Any local user may listen on the local redirect port first: the tunnel must then not come
// up, rather than hand that user every connection of the machine. A Shadowsocks helper of our
// own that a killed tunnel left listening there is no stranger: the new tunnel replaces it.
void TestOutlineE2e::listenerOnTheRedirectPort_data()
{
    QTest::addColumn<bool>("ours");
    QTest::newRow("another user's program gets no traffic") << false;
    QTest::newRow("a helper left by a killed tunnel is replaced") << true;
}

void TestOutlineE2e::listenerOnTheRedirectPort()
{
    QFETCH(bool, ours);
    const QString tunnelProgram = m_outline->binDir() + QStringLiteral("/tun2socks");
    const QString socat = QStringLiteral("exec -a %1 socat TCP-LISTEN:12385,bind=127.0.0.1,fork,reuseaddr "
                                         "SYSTEM:'echo squatted'")
                              .arg(ours ? tunnelProgram : QStringLiteral("socat"));
    QStringList command{"bash", "-c", socat};
    if (!ours)
        command = QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} + command;
    QProcess *squatter = m_lab.start(m_lab.clientNs(), command);
    QVERIFY(squatter);
    QVERIFY(m_lab.waitForListener(m_lab.clientNs(), 12385));
    OutlineDriver driver(m_lab, *m_outline, QString::fromLatin1(OutlineLab::password));
    QCOMPARE(driver.connectVpn(), connected);
    QByteArray body;
    if (ours) {
        QVERIFY2(driver.statusesUntil({0}, 1000).isEmpty(), qPrintable(driver.logDump().right(900)));
        QCOMPARE(m_outline->curl(m_outline->insideUrl(), &body), 0);
        QCOMPARE(body, m_outline->marker());
        QVERIFY(squatter->waitForFinished(5000));
        QCOMPARE(driver.disconnectVpn(), idle);
    } else {
        QCOMPARE(driver.statusesUntil({0}, 10000), idle);
        QVERIFY(m_outline->curl(m_outline->insideUrl(), &body) != 0);
        QVERIFY(!body.contains("squatted"));
        QVERIFY2(driver.logDump().contains(QStringLiteral("another program listens on 127.0.0.1:12385")),
                 qPrintable(driver.logDump().right(900)));
    }
    m_lab.stop(squatter);
    QVERIFY2(m_outline->waitForNoLeftovers(), qPrintable(m_outline->leftovers().join(' ')));
}

TAVRIX_TEST_MAIN_CORE(TestOutlineE2e)
#include "tst_e2e_outline.moc"
