// The configuration bootstrap against the development service over HTTPS on loopback.

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>

#include "api/apimanager.h"
#include "common/crypto.h"
#include "devservice.h"
#include "messagecapture.h"
#include "testmain.h"

using namespace Tavrix;

namespace {

// Signals of one manager in the order they came.
struct SignalLog : QObject
{
    QStringList order;
    explicit SignalLog(APIManager &manager)
    {
        connect(&manager, &APIManager::configUpdated, this, [this] { order.append("updated"); });
        connect(&manager, &APIManager::configUpdateFailed, this, [this] { order.append("failed"); });
        connect(&manager, &APIManager::fetchCompleted, this, [this] { order.append("completed"); });
    }
};

QString userDefault(const QString &key)
{
    return QSettings().value("UserDefaults/" + key).toString();
}

void writeCache(const QString &name, const QDateTime &at)
{
    QSettings settings;
    settings.setValue("UserDefaults/activeConfig", name);
    settings.setValue("UserDefaults/isConfigExist", true);
    settings.setValue("ConfigCache/" + name + "_config", R"({"fields":{}})");
    settings.setValue("ConfigCache/" + name + "_country_config", R"({"login_url":"x","documents":[]})");
    settings.setValue("ConfigCache/" + name + "_timestamp", at.toString(Qt::ISODate));
}

} // namespace

class TestBootstrap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void freshFetchStoresEndpoints();
    void decisionOrder_data();
    void decisionOrder();
    void countryDocumentByTimeZone_data();
    void countryDocumentByTimeZone();
    void cacheAge_data();
    void cacheAge();
    void switchAfterCachedStart();
    void switchAfterFreshFetch();
    void secondFetchDuringFetch();
    void retriesOnRefusedPort();
    void noRetryOnHttpError_data();
    void noRetryOnHttpError();

private:
    int configRequests();
    QString pathOf(int index) const { return APIManager::sourceUrls().at(index).path(); }

    TavrixTest::DevService m_service;
    std::unique_ptr<TavrixTest::MessageCapture> m_capture;
};

void TestBootstrap::initTestCase()
{
    if (!m_service.start())
        QFAIL("the development service did not start");
    m_service.exportEnvironment();
    qputenv("TZ", "UTC");
}

void TestBootstrap::cleanupTestCase()
{
    m_capture.reset();
    m_service.stop();
}

void TestBootstrap::init()
{
    QVERIFY(m_service.reset());
    QSettings settings;
    settings.remove("UserDefaults");
    settings.remove("ConfigCache");
    qputenv("TZ", "UTC");
    m_capture.reset();
    m_capture = std::make_unique<TavrixTest::MessageCapture>();
}

int TestBootstrap::configRequests()
{
    int n = 0;
    for (const QJsonValue &request : m_service.requests()) {
        if (!request.toObject().value("path").toString().startsWith("/__control"))
            ++n;
    }
    return n;
}

void TestBootstrap::freshFetchStoresEndpoints()
{
    APIManager manager;
    SignalLog log(manager);
    manager.fetchAllDefaultConfig();

    QCOMPARE(log.order, QStringList({"updated", "completed"}));
    QCOMPARE(configRequests(), 6);
    QVERIFY(!APIManager::isFetchInProgress());
    QVERIFY(manager.firebase().available && manager.proxy().available && manager.direct().available);
    QVERIFY(manager.lastUpdate().isValid());
    QCOMPARE(userDefault("activeConfig"), "proxy");
    QCOMPARE(QSettings().value("UserDefaults/isConfigExist").toBool(), true);

    // Every endpoint of the main document arrives decoded (or as sent, for the two plain ones).
    const QJsonObject fields =
        QJsonDocument::fromJson(manager.proxy().mainConfig.toUtf8()).object().value("fields").toObject();
    const QList<QPair<QString, QString>> rows = {{"app_id", "LoginURL"},
                                                 {"signup", "SignUpURL"},
                                                 {"forgot_url", "ForgotPasswordURL"},
                                                 {"pricing_online", "pricingOnline"},
                                                 {"free_vs_paid", "freeVSpaid"},
                                                 {"loggedDevice", "loggedDevice"},
                                                 {"email_subs_url", "emailSubsUrl"},
                                                 {"voucher_redeem", "redeemVoucherURL"},
                                                 {"refer_submit_v2", "ReferURL"},
                                                 {"refer_refresh", "RererInfoURL"},
                                                 {"darkweb_url", "darkWebURL"},
                                                 {"ip_check_url", "publicIPURL"},
                                                 {"purchase_history", "purchaseHistoryURL"},
                                                 {"rate_us", "rateUsURL"},
                                                 {"wg_con_v2", "wgURL"}};
    for (const auto &row : rows) {
        const QString sent = fields.value(row.first).toObject().value("stringValue").toString();
        const bool plain = row.second == "ForgotPasswordURL" || row.second == "pricingOnline";
        QCOMPARE(userDefault(row.second), plain ? sent : decode(sent, QStringLiteral("Rk(Vbnwqeo")));
    }
    QVERIFY(userDefault("LoginURL").startsWith(m_service.url()));
    QVERIFY(m_capture->contains("✅ [15] WireGuard URL saved"));

    QSettings settings;
    QCOMPARE(settings.value("ConfigCache/proxy_config").toString(), manager.proxy().mainConfig);
    QCOMPARE(settings.value("ConfigCache/proxy_country_config").toString(), manager.proxy().countryConfig);
    const QDateTime cachedAt =
        QDateTime::fromString(settings.value("ConfigCache/proxy_timestamp").toString(), Qt::ISODate);
    QVERIFY(qAbs(cachedAt.secsTo(QDateTime::currentDateTime())) < 60);
}

void TestBootstrap::decisionOrder_data()
{
    // Each broken request answers with the status (200: a JSON object without the key).
    QTest::addColumn<QList<int>>("broken");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("chosen");       // empty: none usable
    QTest::addColumn<QString>("availability"); // firebase, proxy, direct as 0/1

    QTest::newRow("all usable") << QList<int>{} << 500 << "proxy"
                                << "111";
    QTest::newRow("proxy main fails") << QList<int>{1} << 500 << "direct"
                                      << "101";
    QTest::newRow("proxy country fails") << QList<int>{4} << 500 << "direct"
                                         << "101";
    QTest::newRow("proxy country lacks login_url") << QList<int>{4} << 200 << "direct"
                                                   << "101";
    QTest::newRow("direct country lacks login_url") << QList<int>{1, 5} << 200 << "firebase"
                                                    << "100";
    QTest::newRow("relays down") << QList<int>{1, 2} << 503 << "firebase"
                                 << "100";
    QTest::newRow("firebase listing lacks documents") << QList<int>{1, 2, 3} << 200 << ""
                                                      << "000";
    QTest::newRow("firebase alone broken") << QList<int>{0} << 404 << "proxy"
                                           << "011";
    QTest::newRow("every main fails") << QList<int>{0, 1, 2} << 500 << ""
                                      << "000";
}

void TestBootstrap::decisionOrder()
{
    QFETCH(QList<int>, broken);
    QFETCH(int, status);
    QFETCH(QString, chosen);
    QFETCH(QString, availability);

    // Endpoints stored by an earlier run must survive a fetch that finds nothing usable.
    QSettings().setValue("UserDefaults/LoginURL", "https://earlier.example/login");
    QSettings().setValue("UserDefaults/activeConfig", "direct");
    for (int index : broken)
        QVERIFY(m_service.set(pathOf(index), "status", status, 0, "switched off"));

    APIManager manager;
    SignalLog log(manager);
    manager.fetchAllDefaultConfig();

    QCOMPARE(QString("%1%2%3")
                 .arg(int(manager.firebase().available))
                 .arg(int(manager.proxy().available))
                 .arg(int(manager.direct().available)),
             availability);
    if (chosen.isEmpty()) {
        QCOMPARE(log.order, QStringList({"failed", "completed"}));
        QCOMPARE(QSettings().value("UserDefaults/isConfigExist").toBool(), false);
        QCOMPARE(userDefault("activeConfig"), "direct");
        QCOMPARE(userDefault("LoginURL"), "https://earlier.example/login");
        QVERIFY(QSettings().value("ConfigCache/direct_config").toString().isEmpty());
    } else {
        QCOMPARE(log.order, QStringList({"updated", "completed"}));
        QCOMPARE(userDefault("activeConfig"), chosen);
        QVERIFY(userDefault("LoginURL").startsWith(m_service.url()));
        QVERIFY(!QSettings().value("ConfigCache/" + chosen + "_config").toString().isEmpty());
        QCOMPARE(m_capture->contains("Configuration changed from direct to " + chosen), chosen != "direct");
    }
    // A failed request never leaves the fetch half-open.
    QVERIFY(!APIManager::isFetchInProgress());
    QCOMPARE(m_capture->contains("Some requests failed"), !broken.isEmpty() && status != 200);
}

void TestBootstrap::countryDocumentByTimeZone_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("code"); // the document used; empty: the main document's value
    QTest::newRow("Dhaka has its own") << "Asia/Dhaka"
                                       << "BD";
    QTest::newRow("mapped, no document") << "America/Ciudad_Juarez"
                                         << "";
    QTest::newRow("not mapped") << "Etc/GMT+3"
                                << "";
}

void TestBootstrap::countryDocumentByTimeZone()
{
    QFETCH(QString, zone);
    QFETCH(QString, code);
    qputenv("TZ", zone.toUtf8());
    APIManager manager;
    manager.fetchAllDefaultConfig();
    QCOMPARE(userDefault("activeConfig"), "proxy");

    const QString key = QStringLiteral("Rk(Vbnwqeo");
    QString expectedLogin = decode(QJsonDocument::fromJson(manager.proxy().mainConfig.toUtf8())
                                       .object()["fields"]
                                       .toObject()["app_id"]
                                       .toObject()["stringValue"]
                                       .toString(),
                                   key);
    QString expectedSignup = decode(QJsonDocument::fromJson(manager.proxy().mainConfig.toUtf8())
                                        .object()["fields"]
                                        .toObject()["signup"]
                                        .toObject()["stringValue"]
                                        .toString(),
                                    key);
    if (!code.isEmpty()) {
        bool found = false;
        const QJsonArray documents =
            QJsonDocument::fromJson(manager.proxy().countryConfig.toUtf8()).object().value("documents").toArray();
        for (const QJsonValue &value : documents) {
            const QJsonObject document = value.toObject();
            if (!document.value("name").toString().endsWith("/" + code) || found)
                continue;
            found = true;
            const QJsonObject fields = document.value("fields").toObject();
            expectedLogin = decode(fields["login_url"].toObject()["stringValue"].toString(), key);
            expectedSignup = decode(fields["signup_url"].toObject()["stringValue"].toString(), key);
        }
        QVERIFY2(found, "the service publishes no document for the country");
    }
    QVERIFY(!expectedLogin.isEmpty());
    QCOMPARE(userDefault("LoginURL"), expectedLogin);
    QCOMPARE(userDefault("SignUpURL"), expectedSignup);
}

void TestBootstrap::cacheAge_data()
{
    QTest::addColumn<qint64>("ageSeconds");
    QTest::addColumn<bool>("configExists");
    QTest::addColumn<bool>("fromCache");
    QTest::newRow("24 h 59 min") << qint64(24 * 3600 + 59 * 60) << true << true;
    QTest::newRow("25 h") << qint64(25 * 3600) << true << false;
    QTest::newRow("written in the future") << qint64(-3600) << true << true;
    QTest::newRow("fresh but no config flag") << qint64(60) << false << false;
}

void TestBootstrap::cacheAge()
{
    QFETCH(qint64, ageSeconds);
    QFETCH(bool, configExists);
    QFETCH(bool, fromCache);
    const QDateTime at = QDateTime::currentDateTime().addSecs(-ageSeconds);
    writeCache("direct", at);
    QSettings().setValue("UserDefaults/isConfigExist", configExists);

    APIManager manager;
    SignalLog log(manager);
    manager.fetchAllDefaultConfig();

    QCOMPARE(log.order, QStringList({"updated", "completed"}));
    QCOMPARE(configRequests(), fromCache ? 0 : 6);
    QVERIFY(!APIManager::isFetchInProgress());
    if (fromCache) {
        QVERIFY(manager.direct().available);
        QVERIFY(!manager.proxy().available && !manager.firebase().available);
        QCOMPARE(manager.lastUpdate().toString(Qt::ISODate), at.toString(Qt::ISODate));
        QCOMPARE(userDefault("activeConfig"), "direct");
    } else {
        QCOMPARE(userDefault("activeConfig"), "proxy");
    }
}

void TestBootstrap::switchAfterCachedStart()
{
    writeCache("proxy", QDateTime::currentDateTime().addSecs(-3600));
    APIManager manager;
    manager.fetchAllDefaultConfig();
    QCOMPARE(configRequests(), 0);

    SignalLog log(manager);
    manager.switchConfig();
    QCOMPARE(log.order, QStringList({"updated"}));
    QVERIFY(m_capture->contains("❌ No alternative configuration available for switching"));
    QCOMPARE(userDefault("activeConfig"), "proxy");
    QCOMPARE(configRequests(), 0);
}

void TestBootstrap::switchAfterFreshFetch()
{
    APIManager manager;
    manager.fetchAllDefaultConfig();
    QCOMPARE(userDefault("activeConfig"), "proxy");
    QSettings().setValue("UserDefaults/LoginURL", "https://stale.example/login");

    SignalLog log(manager);
    manager.switchConfig();
    QCOMPARE(log.order, QStringList({"updated"}));
    QCOMPARE(userDefault("activeConfig"), "direct");
    QVERIFY(userDefault("LoginURL").startsWith(m_service.url()));
    QCOMPARE(QSettings().value("ConfigCache/direct_config").toString(), manager.direct().mainConfig);
    manager.switchConfig();
    QCOMPARE(userDefault("activeConfig"), "firebase");
    manager.switchConfig();
    QCOMPARE(userDefault("activeConfig"), "proxy");
}

void TestBootstrap::secondFetchDuringFetch()
{
    QVERIFY(m_service.set(pathOf(APIManager::ProxyMain), "slow", 0, 1500));
    APIManager first;
    APIManager second;
    SignalLog firstLog(first);
    SignalLog secondLog(second);

    bool secondReturned = false;
    bool flagWhileRunning = false;
    QTimer::singleShot(300, &second, [&] {
        flagWhileRunning = APIManager::isFetchInProgress();
        second.fetchAllDefaultConfig();
        secondReturned = true;
    });
    first.fetchAllDefaultConfig();

    QVERIFY(secondReturned);
    QVERIFY(flagWhileRunning);
    QVERIFY(secondLog.order.isEmpty());
    QCOMPARE(firstLog.order, QStringList({"updated", "completed"}));
    QCOMPARE(m_capture->count("⚠️ Config fetch already in progress"), 1);
    QCOMPARE(configRequests(), 6);

    // Once the first has ended, the other instance may fetch again (now from the cache).
    second.fetchAllDefaultConfig();
    QCOMPARE(secondLog.order, QStringList({"updated", "completed"}));
}

void TestBootstrap::retriesOnRefusedPort()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();

    APIManager manager;
    QElapsedTimer clock;
    clock.start();
    const APIManager::RequestResult result =
        manager.performGetRequestWithRetry(QUrl(QString("https://127.0.0.1:%1/apis/getDomainData.php").arg(port)), 0);
    const qint64 elapsed = clock.elapsed();

    QVERIFY(!result.success);
    QCOMPARE(result.httpCode, -2);
    QVERIFY2(result.error.contains("refused", Qt::CaseInsensitive), qPrintable(result.error));
    QCOMPARE(m_capture->count("🔄 Request attempt"), 3);
    QVERIFY(m_capture->contains("🔄 Request attempt 3 / 3 for:"));
    QCOMPARE(m_capture->count("🔄 Retrying in 2000 ms..."), 2);
    QVERIFY(m_capture->contains("❌ Failed after 3 attempts"));
    QVERIFY2(elapsed >= 4000 && elapsed < 7000, qPrintable(QString::number(elapsed)));
}

void TestBootstrap::noRetryOnHttpError_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("httpCode");
    QTest::addColumn<QString>("error");
    QTest::newRow("server error") << "status" << 500 << 500 << "";
    QTest::newRow("empty body") << "empty" << 0 << 200 << "Empty response";
    QTest::newRow("closed without reply") << "down" << 0 << -2 << "";
}

void TestBootstrap::noRetryOnHttpError()
{
    QFETCH(QString, mode);
    QFETCH(int, status);
    QFETCH(int, httpCode);
    QFETCH(QString, error);
    QVERIFY(m_service.set(pathOf(APIManager::DirectMain), mode, status));
    APIManager manager;
    const APIManager::RequestResult result = manager.performGetRequestWithRetry(APIManager::sourceUrls().at(2), 0);
    QVERIFY(!result.success);
    QCOMPARE(result.httpCode, httpCode);
    if (!error.isEmpty())
        QCOMPARE(result.error, error);
    QCOMPARE(m_capture->count("🔄 Request attempt"), 1);
    QVERIFY(configRequests() >= 1);
}

TAVRIX_TEST_MAIN_CORE(TestBootstrap)
#include "tst_bootstrap.moc"
