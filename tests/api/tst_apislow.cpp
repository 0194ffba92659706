// The 15-second bounds, against a development service that accepts and never answers.

#include <QElapsedTimer>
#include <QSettings>
#include <QtTest>

#include <memory>

#include "api/apimanager.h"
#include "api/apirequest.h"
#include "devservice.h"
#include "messagecapture.h"
#include "testmain.h"

using namespace Tavrix;

class TestApiSlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void silentSourceTimesOutOnce();
    void silentAccountPostTimesOut();

private:
    TavrixTest::DevService m_service;
};

void TestApiSlow::initTestCase()
{
    if (!m_service.start())
        QFAIL("the development service did not start");
    m_service.exportEnvironment();
}

void TestApiSlow::cleanupTestCase()
{
    m_service.reset();
    m_service.stop();
}

void TestApiSlow::silentSourceTimesOutOnce()
{
    const QUrl silent = APIManager::sourceUrls().at(APIManager::DirectMain);
    QVERIFY(m_service.set(silent.path(), "never"));
    TavrixTest::MessageCapture capture;
    APIManager manager;
    QElapsedTimer clock;
    clock.start();
    manager.fetchAllDefaultConfig();
    const qint64 elapsed = clock.elapsed();

    // One attempt of 15 s, no retry: a time-out is not worth repeating.
    QVERIFY2(elapsed >= 15000 && elapsed < 18000, qPrintable(QString::number(elapsed)));
    QCOMPARE(capture.count("⏱️  Request timeout for: " + silent.toString()), 1);
    QVERIFY(!capture.contains("🔄 Request attempt 2 / 3 for: " + silent.toString()));
    QVERIFY(!manager.direct().available);
    QVERIFY(manager.proxy().available);
    QCOMPARE(QSettings().value("UserDefaults/activeConfig").toString(), "proxy");
    QVERIFY(!APIManager::isFetchInProgress());
    QVERIFY(m_service.reset());
}

void TestApiSlow::silentAccountPostTimesOut()
{
    APIManager().fetchAllDefaultConfig();
    const QString loginUrl = QSettings().value("UserDefaults/LoginURL").toString();
    QVERIFY(!loginUrl.isEmpty());
    QVERIFY(m_service.set(QUrl(loginUrl).path(), "never"));

    auto api = ApiRequest::instance();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(api->login("free@tavrixvpn.test", "freepass1"), int(ApiRequest::LoginNoResponse));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 15000 && elapsed < 18000, qPrintable(QString::number(elapsed)));
    QCOMPARE(api->errorMessage(), "No internet connection");
}

TAVRIX_TEST_MAIN_CORE(TestApiSlow)
#include "tst_apislow.moc"
