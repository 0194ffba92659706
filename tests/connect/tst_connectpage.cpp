#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QVBoxLayout>
#include <QWaitCondition>

#include "app/fonts.h"
#include "app/stylesheet.h"
#include "common/config.h"
#include "common/user.h"
#include "platform/firewallscripts.h"
#include "platform/paths.h"
#include "protection/killswitch.h"
#include "testmain_gui.h"
#include "ui/dbox.h"
#include "ui/servers/connectpage.h"
#include "ui/servers/elidedlabel.h"
#include "ui/servers/fastestserverbutton.h"
#include "ui/servers/statsindicator.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/serverkeystore.h"

Q_DECLARE_METATYPE(QList<QJsonObject>)

using namespace Tavrix;
using Status = OpenConnectConnection::Status;

namespace {

// A bundle as the sign-in reply carries it.
QJsonObject bundle(int ipId, const QString &ip, int type, const QString &config = QString(),
                   const QString &country = QStringLiteral("Germany"))
{
    return QJsonObject{{"ip_id", ipId},
                       {"ip", ip},
                       {"type", type},
                       {"connection_type", 1},
                       {"config", config},
                       {"platform", "all"},
                       {"countryName", country},
                       {"countryCode", "276"},
                       {"ipName", country + QStringLiteral(" 1")}};
}

void setBundles(const QList<QJsonObject> &objects)
{
    QVector<IPBundlePtr> list;
    for (const QJsonObject &o : objects)
        list.append(IPBundle::fromJson(o));
    User::instance()->setBundles(list);
}

void setActiveServer(int ipId)
{
    auto config = Config::instance();
    config->setActiveServer(ipId);
    config->save();
}

// A TLS peer that accepts and then says nothing: a session to it stays in its handshake
// until the peer hangs up.
class SilentServer : public QTcpServer
{
public:
    SilentServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                ++count;
                m_sockets << socket;
                socket->setParent(this);
            }
        });
    }
    ~SilentServer() override { hangUp(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }
    void hangUp()
    {
        for (QTcpSocket *socket : qAsConst(m_sockets))
            socket->abort();
        m_sockets.clear();
    }
    int count = 0;

private:
    QList<QTcpSocket *> m_sockets;
};

// Answers every HTTP request with a text holding an address, as the service's lookup does.
// It serves from a thread of its own: lookups still running when the test program ends must
// get their answer while the main thread waits for them.
class AddressServer : public QThread
{
public:
    AddressServer()
    {
        QMutexLocker locker(&m_lock);
        start();
        m_ready.wait(&m_lock);
    }
    ~AddressServer() override
    {
        quit();
        wait();
    }
    quint16 port() const { return m_port; }

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->setProperty("request", socket->property("request").toByteArray() + socket->readAll());
                    if (!socket->property("request").toByteArray().contains("\r\n\r\n"))
                        return;
                    const QByteArray body = "Your address: 203.0.113.7\n";
                    socket->write(
                        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        {
            QMutexLocker locker(&m_lock);
            m_port = server.serverPort();
            m_ready.wakeAll();
        }
        exec();
    }

private:
    QMutex m_lock;
    QWaitCondition m_ready;
    quint16 m_port = 0;
};

} // namespace

class ConnectPageTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void connectButtonPaths_data();
    void connectButtonPaths();
    void sessionResults_data();
    void sessionResults();
    void pressWhileConnectingDisconnectsBlockingFirst_departsFromBlockAfterIdle();
    void changedServerKeyAsksBeforeTrusting();
    void newServerWhileConnectedReconnectsAfterIdle();
    void connectedAndIdleLook();
    void quickButtons_data();
    void quickButtons();
    void fastestButtonWalksHighSpeedServers();
    void longNamesFitTheirTiles_data();
    void longNamesFitTheirTiles();
    void autoConnectOnFirstShowOnly();
    void missingEngineIsTold_data();
    void missingEngineIsTold();
    void quickAccessSwitch();
    void detachedObjectIsInert();
    void statusRing();

private:
    void answerNextBox(bool submit);
    void prepareFirewallScripts();
    QStringList firewallRuns() const;
    void waitForIdle(SilentServer *server = nullptr);

    QTimer m_boxAnswerer;
    bool m_answerSubmit = true;
    QStringList m_boxTitles;
    QStringList m_boxSubmitTexts;
    AddressServer m_addressServer;
    QString m_firewallLog;
};

void ConnectPageTest::initTestCase()
{
    // Nothing leaves the machine: the service origin points at a closed local port, the
    // address lookup at our own little server.
    qputenv("TAVRIXVPN_SERVICE_URL", "https://127.0.0.1:9");
    Config::setPublicIpUrl(QStringLiteral("http://127.0.0.1:%1/ip").arg(m_addressServer.port()));

    m_boxAnswerer.setInterval(20);
    connect(&m_boxAnswerer, &QTimer::timeout, this, [this] {
        auto *box = qobject_cast<DBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        m_boxAnswerer.stop();
        m_boxTitles << box->findChild<QLabel *>(QStringLiteral("lblTitle"))->text();
        m_boxSubmitTexts << box->findChild<QPushButton *>(QStringLiteral("btnSubmit"))->text();
        auto *button =
            box->findChild<QPushButton *>(m_answerSubmit ? QStringLiteral("btnSubmit") : QStringLiteral("btnCancel"));
        QTest::mouseClick(button, Qt::LeftButton);
    });
    prepareFirewallScripts();
    // The look of the program: its fonts and style sheet.
    loadApplicationFonts();
    QString sheet;
    if (loadStyleSheet(&sheet))
        qApp->setStyleSheet(sheet);
}

void ConnectPageTest::init()
{
    m_boxTitles.clear();
    m_boxSubmitTexts.clear();
    QFile::remove(m_firewallLog);
    auto config = Config::instance();
    config->load();
    config->setKillSwitch(false);
    config->setAutoConncet(false);
    config->setServerButton(true);
    config->setActiveServer(-1);
    config->save();
    auto controller = OpenConnectConnection::instance();
    controller->setUsername(QString());
    controller->setPassword(QString());
    setBundles({});
}

void ConnectPageTest::cleanup()
{
    m_boxAnswerer.stop();
    waitForIdle();
}

// Stops whatever session a test left and waits until it has ended.
void ConnectPageTest::waitForIdle(SilentServer *server)
{
    auto controller = OpenConnectConnection::instance();
    if (controller->status() != OpenConnectConnection::IDLE)
        controller->disconnectVpn();
    // A session still in its handshake only notices that its peer went away.
    if (server)
        server->hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(controller->status(), OpenConnectConnection::IDLE, 10000);
    QTest::qWait(50);
}

void ConnectPageTest::answerNextBox(bool submit)
{
    m_answerSubmit = submit;
    m_boxAnswerer.start();
}

// Fake firewall scripts that only note that they ran.
void ConnectPageTest::prepareFirewallScripts()
{
    m_firewallLog = QDir(engineFolder()).filePath(QStringLiteral("firewall-runs.log"));
    // The client takes its scripts only from its own folder; point it at these stand-ins.
    setFirewallScriptFolderForTesting(engineFolder());
    const QList<QPair<QString, QString>> scripts = {
        {QStringLiteral("block_outbound_except_vpn.sh"), QStringLiteral("block")},
        {QStringLiteral("reset_firewall_rules.sh"), QStringLiteral("reset")}};
    for (const auto &script : scripts) {
        QFile file(QDir(engineFolder()).filePath(script.first));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("#!/bin/sh\necho %1 >> '%2'\n").arg(script.second, m_firewallLog).toUtf8());
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
}

// Lets queued firewall scripts and what follows them (the connect, a block after a refusal)
// run: done once no script has been pending for a while.
static void settleScripts()
{
    QElapsedTimer quiet;
    quiet.start();
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && quiet.elapsed() < 150) {
        QTest::qWait(20);
        if (KillSwitch::scriptsPending())
            quiet.restart();
    }
}

QStringList ConnectPageTest::firewallRuns() const
{
    QFile file(m_firewallLog);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void ConnectPageTest::connectButtonPaths_data()
{
    QTest::addColumn<QList<QJsonObject>>("bundles");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("submitText");
    QTest::addColumn<int>("paymentRequests");
    QTest::addColumn<int>("activeServer");
    QTest::addColumn<bool>("killSwitch");
    QTest::addColumn<QStringList>("firewall");

    const QString freeVersion =
        QStringLiteral("You are using free version of Tavrix VPN.\nBuy now to unlock all server?");
    // "AA==" decodes to a single NUL: an OpenVPN profile that is empty once read.
    const QString emptyProfile = QStringLiteral("AA==");
    const QString profile = QString::fromLatin1(QByteArray("client\nremote remoteIP remotePort\n").toBase64());

    QTest::newRow("no server") << QList<QJsonObject>{} << true << "Empty Server!"
                               << "OK" << 0 << -1 << false << QStringList();
    QTest::newRow("placeholder, yes") << QList<QJsonObject>{bundle(7, "8.8.8.8", 2)} << true << freeVersion << "Yes"
                                      << 1 << -1 << true << QStringList();
    QTest::newRow("placeholder, no") << QList<QJsonObject>{bundle(7, "8.8.8.8", 2)} << false << freeVersion << "Yes"
                                     << 0 << -1 << false << QStringList();
    QTest::newRow("no address") << QList<QJsonObject>{bundle(7, "", 2)} << true << ""
                                << "" << 0 << -1 << true << QStringList();
    QTest::newRow("openvpn without profile") << QList<QJsonObject>{bundle(7, "10.0.0.1:1194", 1)} << true << ""
                                             << "" << 0 << -1 << false << QStringList();
    // A refused connect starts no session, so no IDLE would close the firewall again: unlike
    // the original order, the page blocks again itself.
    QTest::newRow("result 3, openconnect, firewall blocked again (departs)")
        << QList<QJsonObject>{bundle(7, "10.0.0.1", 2)} << true << "Invalid credentials"
        << "Ok" << 0 << 7 << true << QStringList{"reset", "block"};
    QTest::newRow("result 3, openvpn") << QList<QJsonObject>{bundle(8, "10.0.0.1:1194", 1, profile)} << true
                                       << "Invalid credentials"
                                       << "Ok" << 0 << 8 << false << QStringList();
    QTest::newRow("result 4, openvpn, firewall blocked again (departs)")
        << QList<QJsonObject>{bundle(9, "10.0.0.1:1194", 1, emptyProfile)} << true << "Invalid server"
        << "Ok" << 0 << 9 << true << QStringList{"reset", "block"};
}

void ConnectPageTest::connectButtonPaths()
{
    QFETCH(QList<QJsonObject>, bundles);
    QFETCH(bool, answerYes);
    QFETCH(QString, title);
    QFETCH(QString, submitText);
    QFETCH(int, paymentRequests);
    QFETCH(int, activeServer);
    QFETCH(bool, killSwitch);
    QFETCH(QStringList, firewall);

    setBundles(bundles);
    auto config = Config::instance();
    config->setKillSwitch(killSwitch);
    config->save();
    ConnectPage page;
    QSignalSpy payment(&page, &ConnectPage::paymentPageRequest);
    QSignalSpy status(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged);

    answerNextBox(answerYes);
    QTest::mouseClick(page.findChild<QPushButton *>(QStringLiteral("btnConnect")), Qt::LeftButton);
    // The connect goes on once the reset script (off the window's thread) has ended, and a
    // refusal queues the block script after it.
    settleScripts();

    QCOMPARE(m_boxTitles, title.isEmpty() ? QStringList() : QStringList{title});
    if (!submitText.isEmpty())
        QCOMPARE(m_boxSubmitTexts, QStringList{submitText});
    QCOMPARE(payment.count(), paymentRequests);
    QCOMPARE(status.count(), 0);
    config->load();
    QCOMPARE(config->activeServer(), activeServer);
    QCOMPARE(firewallRuns(), firewall);
    if (activeServer > 0) {
        // The controller was prepared from the chosen server.
        auto controller = OpenConnectConnection::instance();
        QCOMPARE(controller->getType(), bundles.first().value("type").toInt());
        QCOMPARE(controller->getServer()->host(), bundles.first().value("ip").toString());
        QCOMPARE(config->lastServerType(), bundles.first().value("type").toInt());
    }
}

void ConnectPageTest::sessionResults_data()
{
    QTest::addColumn<bool>("stopFirst");
    QTest::addColumn<QString>("title");
    QTest::newRow("1: a session exists") << false << "Connection already active";
    QTest::newRow("2: the session is still ending") << true << "VPN already running";
}

void ConnectPageTest::sessionResults()
{
    QFETCH(bool, stopFirst);
    QFETCH(QString, title);

    SilentServer server;
    setBundles({bundle(3, server.address(), 2)});
    setActiveServer(3);
    auto controller = OpenConnectConnection::instance();
    controller->setUsername(QStringLiteral("demo@example.com"));
    controller->setPassword(QStringLiteral("secret1"));

    ConnectPage first;
    first.btnConnect_clicked();
    QTRY_COMPARE_WITH_TIMEOUT(server.count, 1, 5000);
    QTRY_COMPARE(first.pageStatus(), 1);

    // A second page knows nothing of the running session, so its press asks for a new one.
    ConnectPage second;
    QSignalSpy status(controller.get(), &OpenConnectConnection::statusChanged);
    if (stopFirst)
        controller->disconnectVpn();
    answerNextBox(true);
    second.btnConnect_clicked();
    QCOMPARE(m_boxTitles, QStringList{title});
    if (stopFirst) {
        // After the box the page stops the engine again: the session ends as IDLE.
        QTRY_VERIFY_WITH_TIMEOUT(
            status.count() > 0 && status.last().first().value<Status>() == OpenConnectConnection::IDLE, 5000);
    }
    waitForIdle(&server);
    QTRY_COMPARE(first.pageStatus(), 0);
}

// A refused changed key is put to the user on the connect page; only "Trust new key" stores
// it, and connects again. The entry's pin reaches the server profile.
void ConnectPageTest::changedServerKeyAsksBeforeTrusting()
{
    SilentServer server;
    const QString entryPin = QStringLiteral("pin-sha256:") + QString::fromLatin1(QByteArray(32, 'p').toBase64());
    QJsonObject entry = bundle(3, server.address(), 2);
    entry.insert(QStringLiteral("pin"), entryPin);
    setBundles({entry, bundle(4, server.address(), 2)});
    setActiveServer(3);
    auto controller = OpenConnectConnection::instance();
    controller->setUsername(QStringLiteral("demo@example.com"));
    controller->setPassword(QStringLiteral("secret1"));
    ConnectPage page;
    page.resize(420, 700);
    page.show();
    page.btnConnect_clicked();
    QTRY_COMPARE_WITH_TIMEOUT(server.count, 1, 5000);
    QCOMPARE(controller->getServer()->pin(), entryPin);
    waitForIdle(&server);
    // The pin of one entry never carries over to another.
    setActiveServer(4);

    const QString name = ServerKeyStore::serverName(server.address());
    const QString stored = QStringLiteral("pin-sha256:") + QString::fromLatin1(QByteArray(32, 's').toBase64());
    const QString offered = QStringLiteral("pin-sha256:") + QString::fromLatin1(QByteArray(32, 'o').toBase64());
    QVERIFY(ServerKeyStore().setPin(name, stored));
    for (bool trust : {false, true}) {
        emit controller->serverKeyChanged(name, stored, offered);
        DBox *box = nullptr;
        QTRY_VERIFY((box = page.findChild<DBox *>(QStringLiteral("serverKeyChangedBox"))) && box->isVisible());
        QCOMPARE(box->findChild<QLabel *>(QStringLiteral("lblTitle"))->text(),
                 QStringLiteral("The server's identity has changed"));
        const QString text = box->findChild<QLabel *>(QStringLiteral("lblText"))->text();
        QVERIFY2(text.contains(name) && text.contains(QStringLiteral("Stored key (SHA-256):\n") + stored.mid(11)) &&
                     text.contains(QStringLiteral("New key (SHA-256):\n") + offered.mid(11)),
                 qPrintable(text));
        if (!qEnvironmentVariableIsEmpty("TAVRIX_SCREENSHOT_DIR"))
            box->grab().save(qEnvironmentVariable("TAVRIX_SCREENSHOT_DIR") + "/serverkeychanged.png");
        QTest::mouseClick(
            box->findChild<QPushButton *>(trust ? QStringLiteral("btnSubmit") : QStringLiteral("btnCancel")),
            Qt::LeftButton);
        QTRY_VERIFY(!page.findChild<DBox *>(QStringLiteral("serverKeyChangedBox")));
        QCOMPARE(ServerKeyStore().pin(name), trust ? offered : stored);
        // Trusting connects again, to the entry now chosen; declining stays idle.
        if (trust)
            QTRY_COMPARE_WITH_TIMEOUT(server.count, 2, 5000);
        else
            QCOMPARE(page.pageStatus(), 0);
    }
    QCOMPARE(controller->getServer()->pin(), QString());
    waitForIdle(&server);
}

void ConnectPageTest::pressWhileConnectingDisconnectsBlockingFirst_departsFromBlockAfterIdle()
{
    SilentServer server;
    setBundles({bundle(3, server.address(), 2)});
    setActiveServer(3);
    auto config = Config::instance();
    config->setKillSwitch(true);
    config->save();
    auto controller = OpenConnectConnection::instance();
    controller->setUsername(QStringLiteral("demo@example.com"));
    controller->setPassword(QStringLiteral("secret1"));

    ConnectPage page;
    QSignalSpy status(controller.get(), &OpenConnectConnection::statusChanged);
    auto *button = page.findChild<QPushButton *>(QStringLiteral("btnConnect"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(server.count, 1, 5000);
    QTRY_COMPARE(page.pageStatus(), 1);
    // The ring turns while connecting.
    const double angle = page.ringAngle();
    QTRY_VERIFY(page.ringAngle() != angle);

    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY(status.last().first().value<Status>() == OpenConnectConnection::DISCONNECTING);
    server.hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(page.pageStatus(), 0, 10000);
    QList<Status> seen;
    for (const auto &args : status)
        seen << args.first().value<Status>();
    QCOMPARE(seen.first(), OpenConnectConnection::CONNECTING);
    QVERIFY(seen.contains(OpenConnectConnection::DISCONNECTING));
    QCOMPARE(seen.last(), OpenConnectConnection::IDLE);
    QCOMPARE(server.count, 1); // no second attempt
    // Firewall opened before connecting, closed before the tunnel is taken down (departs: the
    // design blocks only after IDLE, leaving a moment in the clear) and again at IDLE.
    QTRY_COMPARE(firewallRuns(), (QStringList{"reset", "block", "block"}));
}

void ConnectPageTest::newServerWhileConnectedReconnectsAfterIdle()
{
    SilentServer first;
    SilentServer second;
    setBundles({bundle(1, first.address(), 2), bundle(2, second.address(), 2, QString(), QStringLiteral("France"))});
    setActiveServer(1);
    auto controller = OpenConnectConnection::instance();
    controller->setUsername(QStringLiteral("demo@example.com"));
    controller->setPassword(QStringLiteral("secret1"));

    ConnectPage page;
    page.btnConnect_clicked();
    QTRY_COMPARE_WITH_TIMEOUT(first.count, 1, 5000);
    QTRY_COMPARE(page.pageStatus(), 1);

    QElapsedTimer sinceIdle;
    connect(controller.get(), &OpenConnectConnection::statusChanged, &page, [&](Status s) {
        if (s == OpenConnectConnection::IDLE && !sinceIdle.isValid())
            sinceIdle.start();
    });
    // The server list stores the new choice, then the hub asks the page to connect.
    setActiveServer(2);
    page.requestConnect(true);
    QVERIFY(page.reconnectPending());
    first.hangUp();
    QCOMPARE(second.count, 0);

    QTRY_COMPARE_WITH_TIMEOUT(second.count, 1, 10000);
    QVERIFY(sinceIdle.isValid());
    QVERIFY2(sinceIdle.elapsed() >= 90, qPrintable(QString::number(sinceIdle.elapsed())));
    QVERIFY(!page.reconnectPending());
    QTRY_COMPARE(page.pageStatus(), 1);
    QCOMPARE(first.count, 1);
    waitForIdle(&second);
}

void ConnectPageTest::connectedAndIdleLook()
{
    setBundles({bundle(4, QStringLiteral("127.0.0.1:443"), 2)});
    setActiveServer(4);
    auto config = Config::instance();
    config->setKillSwitch(true);
    config->setLastServerType(2);
    config->save();
    Config::setSplitTunnelEnabled(true);

    ConnectPage page;
    page.resize(560, 720);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy splitTunnel(&page, &ConnectPage::coonnectToSplitTunnel);
    auto *stats = page.findChild<StatsIndicator *>(QStringLiteral("statsWidget"));
    auto *ip = page.findChild<QLabel *>(QStringLiteral("lblSelectionIp"));
    auto *protectedText = page.findChild<QLabel *>(QStringLiteral("lblProtectedText"));
    QVERIFY(!stats->isVisible());
    // The address the lookup found shows while unprotected.
    QTRY_COMPARE_WITH_TIMEOUT(ip->text(), QStringLiteral("203.0.113.7"), 10000);

    // Screen readers are told of each change of the status line. Events flow only where a
    // platform has accessibility on (not on the offscreen one): there the names are checked.
    static QList<QPair<QObject *, QAccessible::Event>> told;
    told.clear();
    QAccessible::setActive(true);
    const bool eventsFlow = QAccessible::isActive();
    QAccessible::installUpdateHandler([](QAccessibleEvent *event) { told.append({event->object(), event->type()}); });
    const auto toldOfStatus = [&] {
        return !eventsFlow || (told.contains({protectedText, QAccessible::NameChanged}) &&
                               told.contains({protectedText, QAccessible::Alert}));
    };

    auto controller = OpenConnectConnection::instance();
    emit controller->statusChanged(OpenConnectConnection::CONNECTED);
    QCOMPARE(page.pageStatus(), 2);
    QVERIFY(stats->isVisible());
    QCOMPARE(protectedText->text(), QStringLiteral("Protected Now"));
    QVERIFY(toldOfStatus());
    QCOMPARE(protectedText->accessibleName(), QStringLiteral("Protected Now"));
    QCOMPARE(page.findChild<QWidget *>(QStringLiteral("btnConnect"))->accessibleName(), QStringLiteral("Disconnect"));
    QCOMPARE(ip->text(), QStringLiteral("127.0.0.1")); // the server's host, without the port
    QCOMPARE(splitTunnel.count(), 1);
    Config::instance()->load();
    QVERIFY(Config::instance()->connectionState());
    // The round trip to the server is measured.
    auto *ping = stats->findChild<QLabel *>(QStringLiteral("lblPing"));
    QTRY_VERIFY_WITH_TIMEOUT(ping->text().endsWith(QLatin1String(" ms")) && ping->text().at(0).isDigit(), 10000);
    // A lookup made through the tunnel must not replace the server address.
    QTest::qWait(300);
    QCOMPARE(ip->text(), QStringLiteral("127.0.0.1"));

    emit controller->statusChanged(OpenConnectConnection::IDLE);
    QCOMPARE(page.pageStatus(), 0);
    QVERIFY(!stats->isVisible());
    QCOMPARE(protectedText->text(), QStringLiteral("Not Protected"));
    QVERIFY(toldOfStatus());
    QCOMPARE(protectedText->accessibleName(), QStringLiteral("Not Protected"));
    QAccessible::installUpdateHandler(nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(ip->text(), QStringLiteral("203.0.113.7"), 10000);
    Config::instance()->load();
    QVERIFY(!Config::instance()->connectionState());
    QTRY_COMPARE(firewallRuns(), QStringList{"block"});
    Config::setSplitTunnelEnabled(false);
}

void ConnectPageTest::quickButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<QJsonObject>>("bundles");
    QTest::addColumn<int>("emitted");
    QTest::addColumn<QList<int>>("allowedActive");

    QJsonObject gaming = bundle(21, "10.0.0.21", 2);
    gaming["is_gaming"] = 1;
    QJsonObject streaming = bundle(31, "10.0.0.31", 2);
    streaming["is_online_stream"] = 1;
    QJsonObject streaming2 = bundle(32, "10.0.0.32", 2);
    streaming2["is_online_stream"] = 1;
    const QJsonObject plain = bundle(5, "10.0.0.5", 2);

    QTest::newRow("gaming, none") << "gammingServer" << QList<QJsonObject>{plain} << 0 << QList<int>{5};
    QTest::newRow("gaming, one") << "gammingServer" << QList<QJsonObject>{plain, gaming} << 1 << QList<int>{21};
    QTest::newRow("streaming, none") << "stremmingServer" << QList<QJsonObject>{plain} << 1 << QList<int>{5};
    QTest::newRow("streaming, two") << "stremmingServer" << QList<QJsonObject>{plain, streaming, streaming2} << 1
                                    << QList<int>{31, 32};
    QTest::newRow("fastest, none") << "fastServer" << QList<QJsonObject>{plain} << 0 << QList<int>{5};
}

void ConnectPageTest::quickButtons()
{
    QFETCH(QString, button);
    QFETCH(QList<QJsonObject>, bundles);
    QFETCH(int, emitted);
    QFETCH(QList<int>, allowedActive);

    setBundles(bundles);
    setActiveServer(5);
    ConnectPage page;
    QSignalSpy fastest(&page, &ConnectPage::ConnectToFastestServer);
    QSignalSpy gaming(&page, &ConnectPage::connectToGammingServer);
    QSignalSpy streaming(&page, &ConnectPage::connectToStreamingServer);

    QTest::mousePress(page.findChild<QWidget *>(button), Qt::LeftButton);
    QCOMPARE(fastest.count() + gaming.count() + streaming.count(), emitted);
    Config::instance()->load();
    QVERIFY2(allowedActive.contains(Config::instance()->activeServer()),
             qPrintable(QString::number(Config::instance()->activeServer())));
}

void ConnectPageTest::fastestButtonWalksHighSpeedServers()
{
    QList<QJsonObject> bundles;
    const QList<QPair<int, QString>> fast = {{11, QStringLiteral("Netherlands")},
                                             {12, QStringLiteral("Canada")},
                                             {13, QStringLiteral("Bosnia and Herzegovina")}};
    bundles << bundle(5, "10.0.0.5", 2);
    for (const auto &f : fast) {
        QJsonObject b = bundle(f.first, QStringLiteral("10.0.0.%1").arg(f.first), 2, QString(), f.second);
        b["is_fast_server"] = 1;
        bundles << b;
    }
    setBundles(bundles);
    ConnectPage page;
    auto *button = page.findChild<FastestServerButton *>(QStringLiteral("fastServer"));
    auto *title = button->findChild<QLabel *>(QStringLiteral("lblTitle"));
    QSignalSpy clicked(&page, &ConnectPage::ConnectToFastestServer);

    const QList<int> expected = {11, 12, 13, 11};
    const QStringList titles = {"Netherlands", "Canada", "Bosnia and Herzegovina", "Netherlands"};
    for (int i = 0; i < expected.size(); ++i) {
        QTest::mousePress(button, Qt::LeftButton);
        Config::instance()->load();
        QCOMPARE(Config::instance()->activeServer(), expected[i]);
        QCOMPARE(title->text(), titles[i]);
    }
    QCOMPARE(clicked.count(), 4);

    // A press while the account has no high-speed server still moves the turn on.
    setBundles({bundles.first()});
    QTest::mousePress(button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 4);
    setBundles(bundles);
    QTest::mousePress(button, Qt::LeftButton);
    Config::instance()->load();
    QCOMPARE(Config::instance()->activeServer(), 13); // sixth press: index 5 % 3
}

void ConnectPageTest::longNamesFitTheirTiles_data()
{
    QTest::addColumn<QString>("country");
    QTest::addColumn<int>("pageWidth");

    // The narrowest the page gets, and its width in the window.
    for (int width : {560, 668}) {
        for (const char *country : {"Peru", "United States", "United Arab Emirates", "Bosnia And Herzegovina"})
            QTest::addRow("%s, %d", country, width) << QString::fromLatin1(country) << width;
    }
}

// Country and city names are never cut off without a sign, never stretch the page, and short
// ones are shown whole.
void ConnectPageTest::longNamesFitTheirTiles()
{
    QFETCH(QString, country);
    QFETCH(int, pageWidth);

    QJsonObject fast = bundle(5, "10.0.0.5", 2, QString(), country);
    fast["is_fast_server"] = 1;
    setBundles({fast});
    setActiveServer(5);
    ConnectPage page;
    page.resize(pageWidth, 560);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTest::mousePress(page.findChild<QWidget *>(QStringLiteral("fastServer")), Qt::LeftButton);
    QTest::qWait(20);
    QCOMPARE(page.width(), pageWidth);

    const QList<QPair<QString, QString>> labels = {{QStringLiteral("fastServer"), QStringLiteral("lblTitle")},
                                                   {QStringLiteral("serverSelectWidget"), QStringLiteral("lblCountry")},
                                                   {QStringLiteral("serverSelectWidget"), QStringLiteral("lblCity")}};
    for (const auto &names : labels) {
        auto *tile = page.findChild<QWidget *>(names.first);
        auto *label = tile->findChild<ElidedLabel *>(names.second);
        QVERIFY2(label, qPrintable(names.second));
        QVERIFY(label->text().startsWith(country));
        const QRect inTile(label->mapTo(tile, QPoint(0, 0)), label->size());
        QVERIFY2(tile->rect().contains(inTile), qPrintable(names.second));
        QVERIFY(tile->geometry().right() < page.width());
        // A tile may break its title between words over two lines; each line must fit.
        const QString shown = label->displayedText();
        for (const QString &line : shown.split(QLatin1Char('\n')))
            QVERIFY2(label->fontMetrics().horizontalAdvance(line) <= label->contentsRect().width(), qPrintable(line));
        if (QString(shown).replace(QLatin1Char('\n'), QLatin1Char(' ')) != label->text())
            QVERIFY2(shown.endsWith(QChar(0x2026)) && shown.size() > 1, qPrintable(shown));
    }
    // Fixed titles and short names always have room.
    for (const char *tile : {"stremmingServer", "gammingServer"}) {
        auto *title =
            page.findChild<QWidget *>(QLatin1String(tile))->findChild<ElidedLabel *>(QStringLiteral("lblTitle"));
        QCOMPARE(title->displayedText(), title->text());
    }
    if (country.size() <= 4)
        QCOMPARE(page.findChild<QWidget *>(QStringLiteral("fastServer"))
                     ->findChild<ElidedLabel *>(QStringLiteral("lblTitle"))
                     ->displayedText(),
                 country);
}

void ConnectPageTest::autoConnectOnFirstShowOnly()
{
    setBundles({bundle(5, "10.0.0.5", 2)});
    auto config = Config::instance();
    config->setAutoConncet(true);
    config->setConnectionState(false);
    config->save();

    ConnectPage page;
    QSignalSpy fastest(&page, &ConnectPage::ConnectToFastestServer);
    page.show();
    QTRY_COMPARE(fastest.count(), 1);
    page.hide();
    page.show();
    QTest::qWait(50);
    QCOMPARE(fastest.count(), 1);

    // Also when the quick choices are hidden.
    config->setServerButton(false);
    config->save();
    ConnectPage hiddenChoices;
    QSignalSpy again(&hiddenChoices, &ConnectPage::ConnectToFastestServer);
    hiddenChoices.show();
    QTRY_COMPARE(again.count(), 1);
}

void ConnectPageTest::missingEngineIsTold_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QByteArray>("config");
    QTest::newRow("wireguard") << 5 << "WireGuard" << QByteArray("{}");
    QTest::newRow("v2ray") << 6 << "V2Ray" << QByteArray("{}");
    // A profile the client refuses: the user reads which directive, before any engine is looked for.
    QTest::newRow("openvpn profile with a plugin")
        << 1 << "OpenVPN connection could not be started. The server's OpenVPN profile was refused: \"plugin\""
        << QByteArray("client\nplugin /tmp/evil.so\nremote remoteIP remotePort\n");
}

// The test program's folder holds no engine programs: picking such a server must say so.
void ConnectPageTest::missingEngineIsTold()
{
    QFETCH(int, type);
    QFETCH(QString, engine);
    QFETCH(QByteArray, config);
    setBundles({bundle(31, "10.0.0.31:51820", type, QString::fromLatin1(config.toBase64()))});
    OpenConnectConnection::instance()->setUsername(QStringLiteral("demo@example.com"));
    OpenConnectConnection::instance()->setPassword(QStringLiteral("secret1"));
    setActiveServer(31);
    ConnectPage page;
    page.show();
    QTest::mouseClick(page.findChild<QPushButton *>(QStringLiteral("btnConnect")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(page.findChild<DBox *>(QStringLiteral("connectFailedBox")), 10000);
    auto *box = page.findChild<DBox *>(QStringLiteral("connectFailedBox"));
    QTRY_VERIFY(box->isVisible());
    QCOMPARE(box->findChild<QLabel *>(QStringLiteral("lblTitle"))->text(), QStringLiteral("Connection failed"));
    QVERIFY(box->findChild<QLabel *>(QStringLiteral("lblText"))->text().contains(engine));
    QTRY_COMPARE_WITH_TIMEOUT(OpenConnectConnection::instance()->status(), OpenConnectConnection::IDLE, 10000);
    QCOMPARE(page.pageStatus(), 0);
    QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("btnSubmit")), Qt::LeftButton);
    QTRY_VERIFY(!page.findChild<DBox *>(QStringLiteral("connectFailedBox")));
}

void ConnectPageTest::quickAccessSwitch()
{
    ConnectPage page;
    page.show();
    auto *choices = page.findChild<QWidget *>(QStringLiteral("serverButton"));
    QVERIFY(choices->isVisible());
    auto config = Config::instance();
    config->setServerButton(false);
    config->save();
    page.setServerButton();
    QVERIFY(!choices->isVisible());
}

void ConnectPageTest::detachedObjectIsInert()
{
    setBundles({bundle(5, "10.0.0.5", 2)});
    setActiveServer(5);
    ConnectPage detached(nullptr, ConnectPage::Role::Detached);
    qApp->installEventFilter(&detached);
    QVERIFY(detached.findChildren<QObject *>().isEmpty());
    QSignalSpy status(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged);
    detached.requestConnect(true);
    QCOMPARE(status.count(), 0);
    // Events pass through it untouched.
    QLineEdit edit;
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QTest::keyClicks(&edit, QStringLiteral("typed"));
    QCOMPARE(edit.text(), QStringLiteral("typed"));
    qApp->removeEventFilter(&detached);
}

// Grabs the page as the window shows it (the window paints the background behind its pages)
// and, when TAVRIX_SCREENSHOT_DIR is set, keeps the picture there.
static QImage grabPage(QWidget *frame, const QString &name)
{
    QCoreApplication::processEvents(); // pending layout passes
    const QImage image = frame->grab().toImage();
    const QString dir = qEnvironmentVariable("TAVRIX_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        image.save(QDir(dir).filePath(name + QStringLiteral(".png")));
    }
    return image;
}

static void paintBackground(QWidget *frame, bool connected)
{
    QPalette palette = frame->palette();
    const QString picture =
        connected ? QStringLiteral(":/assets/background.png") : QStringLiteral(":/assets/white_background.png");
    const QPixmap pixmap(picture);
    palette.setBrush(QPalette::Window, pixmap.isNull() ? QBrush(connected ? QColor(98, 27, 36) : QColor(Qt::white))
                                                       : QBrush(pixmap.scaled(frame->size())));
    frame->setPalette(palette);
    frame->setAutoFillBackground(true);
}

void ConnectPageTest::statusRing()
{
    setBundles({bundle(4, QStringLiteral("127.0.0.1"), 2)});
    setActiveServer(4);
    QWidget frame;
    frame.resize(560, 720);
    auto *layout = new QVBoxLayout(&frame);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *page = new ConnectPage(&frame);
    layout->addWidget(page);
    paintBackground(&frame, false);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTRY_COMPARE_WITH_TIMEOUT(page->findChild<QLabel *>(QStringLiteral("lblSelectionIp"))->text(),
                              QStringLiteral("203.0.113.7"), 10000);

    auto *button = page->findChild<QPushButton *>(QStringLiteral("btnConnect"));
    const QPoint origin = button->mapTo(&frame, QPoint(0, 0));
    const int h = button->height();
    // Points on the ring: its top and its left side.
    const QPoint top(origin.x() + (h + 4) / 2, origin.y() - 2 + 1);
    const QPoint left(origin.x() + 1, origin.y() - 2 + (h + 4) / 2);
    auto isGreen = [](QRgb c) { return qGreen(c) > 90 && qRed(c) < 90 && qBlue(c) < 90; };

    QImage idle = grabPage(&frame, QStringLiteral("connect-page-idle"));
    QVERIFY(!isGreen(idle.pixel(top)));

    auto controller = OpenConnectConnection::instance();
    emit controller->statusChanged(OpenConnectConnection::CONNECTING);
    QTest::qWait(120);
    const QImage connecting = grabPage(&frame, QStringLiteral("connect-page-connecting"));
    // Part of the ring is brand red while it turns.
    int red = 0;
    for (int dy = -8; dy < h + 8; ++dy) {
        for (const int x : {origin.x() - 2, origin.x() - 1, origin.x() + h + 5, origin.x() + h + 6}) {
            const QRgb c = connecting.pixel(x, origin.y() + dy);
            if (qRed(c) > 150 && qGreen(c) < 110 && qBlue(c) < 120)
                ++red;
        }
    }
    QVERIFY2(red > 0, "no red on the ring while connecting");

    paintBackground(&frame, true);
    emit controller->statusChanged(OpenConnectConnection::CONNECTED);
    const QImage connected = grabPage(&frame, QStringLiteral("connect-page-connected"));
    QVERIFY(isGreen(connected.pixel(top)));
    QVERIFY(isGreen(connected.pixel(left)));

    emit controller->statusChanged(OpenConnectConnection::IDLE);
    paintBackground(&frame, false);
    idle = frame.grab().toImage();
    QVERIFY(!isGreen(idle.pixel(top)));
}

TAVRIX_TEST_MAIN_GUI(ConnectPageTest)
#include "tst_connectpage.moc"
