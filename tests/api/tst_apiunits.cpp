// Pieces of the account API and the configuration bootstrap that need no service.

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include "api/apimanager.h"
#include "api/apirequest.h"
#include "api/basehttprequest.h"
#include "api/endpointdocuments.h"
#include "common/crypto.h"
#include "common/serviceurl.h"
#include "messagecapture.h"
#include "testmain.h"

using namespace Tavrix;

class TestApiUnits : public QObject
{
    Q_OBJECT

private slots:
    void timeZoneMapByRegion_data();
    void timeZoneMapByRegion();
    void timeZoneMapRows_data();
    void timeZoneMapRows();
    void emailCheck_data();
    void emailCheck();
    void serviceAddress_data();
    void serviceAddress();
    void utcOffset_data();
    void utcOffset();
    void decodeResponse_data();
    void decodeResponse();
    void invalidUrlSendsNothing_data();
    void invalidUrlSendsNothing();
    void callingCode_data();
    void callingCode();
    void countryDocumentOverridesLogin_data();
    void countryDocumentOverridesLogin();
};

void TestApiUnits::timeZoneMapByRegion_data()
{
    QTest::addColumn<QString>("region");
    QTest::addColumn<int>("count");
    const QList<QPair<const char *, int>> regions = {
        {"Africa", 52},   {"America", 143},  {"Antarctica", 11}, {"Arctic", 1},  {"Asia", 82},
        {"Atlantic", 10}, {"Australia", 11}, {"Europe", 58},     {"Indian", 11}, {"Pacific", 38}};
    for (const auto &region : regions)
        QTest::newRow(region.first) << QString::fromLatin1(region.first) << region.second;
}

void TestApiUnits::timeZoneMapByRegion()
{
    QFETCH(QString, region);
    QFETCH(int, count);
    APIManager manager;
    const QStringList zones = manager.timeZoneMap().keys();
    QCOMPARE(zones.size(), 417);
    int inRegion = 0;
    for (const QString &zone : zones) {
        QVERIFY2(QRegularExpression(QStringLiteral("^[A-Z]{2}$")).match(manager.timeZoneMap().value(zone)).hasMatch(),
                 qPrintable(zone));
        inRegion += zone.startsWith(region + QLatin1Char('/')) ? 1 : 0;
    }
    QCOMPARE(inRegion, count);
}

void TestApiUnits::timeZoneMapRows_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("country"); // empty: must not be in the map
    const QList<QPair<const char *, const char *>> rows = {
        {"Africa/Abidjan", "CI"},
        {"Africa/Ceuta", "ES"},
        {"Africa/Lubumbashi", "CD"},
        {"America/Adak", "US"},
        {"Asia/Dhaka", "BD"},
        {"Europe/Busingen", "DE"},
        {"Atlantic/Canary", "ES"},
        {"Pacific/Easter", "CL"},
        {"Europe/Kyiv", "UA"},
        {"Pacific/Kanton", "KI"},
        {"America/Ciudad_Juarez", "MX"},
        {"America/Nipigon", ""},
        {"America/Thunder_Bay", ""},
        {"America/Pangnirtung", ""},
        {"America/Rainy_River", ""},
        {"America/Yellowknife", ""},
        {"Pacific/Enderbury", ""},
        {"Asia/Choibalsan", ""},
        {"Europe/Kiev", ""},
        {"Europe/Uzhgorod", ""},
        {"Europe/Zaporozhye", ""},
        {"UTC", ""},
        {"Pacific Standard Time", ""},
    };
    for (const auto &row : rows)
        QTest::newRow(row.first) << QString::fromLatin1(row.first) << QString::fromLatin1(row.second);
}

void TestApiUnits::timeZoneMapRows()
{
    QFETCH(QString, zone);
    QFETCH(QString, country);
    APIManager manager;
    QCOMPARE(manager.timeZoneMap().value(zone), country);
}

void TestApiUnits::emailCheck_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "free@tavrixvpn.test" << true;
    QTest::newRow("upper case") << "Jose.Perez+vpn@Example.ORG" << true;
    QTest::newRow("sub domain") << "a_b%c@mail.example.co.uk" << true;
    QTest::newRow("no at") << "free.tavrixvpn.test" << false;
    QTest::newRow("one-letter tld") << "user@example.c" << false;
    QTest::newRow("trailing text") << "user@example.com and more" << false;
    QTest::newRow("leading space") << " user@example.com" << false;
    QTest::newRow("two addresses") << "a@b.com,c@d.com" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("non-ascii local part") << "josé@example.com" << false;
}

void TestApiUnits::emailCheck()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(APIManager::isValidEmail(text), valid);
}

void TestApiUnits::serviceAddress_data()
{
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no override") << ""
                                 << "https://relay.tavrixvpn.com/apis/x.php?a=1"
                                 << "https://relay.tavrixvpn.com/apis/x.php?a=1";
    QTest::newRow("path and query kept") << "https://127.0.0.1:8443"
                                         << "https://relay.tavrixvpn.com/apis/x.php?a=1&b=%20"
                                         << "https://127.0.0.1:8443/apis/x.php?a=1&b=%20";
    QTest::newRow("port of the original dropped") << "https://localhost"
                                                  << "https://shop.example:9000/buy#top"
                                                  << "https://localhost/buy#top";
    QTest::newRow("firestore path")
        << "https://127.0.0.1:1"
        << "https://firestore.googleapis.com/v1/projects/p/databases/(default)/documents/global/d/apis/"
        << "https://127.0.0.1:1/v1/projects/p/databases/(default)/documents/global/d/apis/";
    QTest::newRow("unusable override ignored") << "not a url"
                                               << "https://a.example/x"
                                               << "https://a.example/x";
    QTest::newRow("relative address untouched") << "https://127.0.0.1:1"
                                                << "/only/a/path"
                                                << "/only/a/path";
}

void TestApiUnits::serviceAddress()
{
    QFETCH(QString, origin);
    QFETCH(QString, address);
    QFETCH(QString, expected);
    const QByteArray saved = qgetenv("TAVRIXVPN_SERVICE_URL");
    qputenv("TAVRIXVPN_SERVICE_URL", origin.toUtf8());
    const QString result = ServiceUrl::address(address);
    qputenv("TAVRIXVPN_SERVICE_URL", saved);
    QCOMPARE(result, expected);
}

void TestApiUnits::utcOffset_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("UTC") << 0 << "+00:00";
    QTest::newRow("Dhaka") << 6 * 3600 << "+06:00";
    QTest::newRow("Kathmandu") << 5 * 3600 + 45 * 60 << "+05:45";
    QTest::newRow("New York winter") << -5 * 3600 << "-05:00";
    QTest::newRow("Marquesas") << -(9 * 3600 + 30 * 60) << "-09:30";
}

void TestApiUnits::utcOffset()
{
    QFETCH(int, seconds);
    QFETCH(QString, text);
    QCOMPARE(ApiRequest::utcOffsetText(seconds), text);
}

void TestApiUnits::decodeResponse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("parseError");
    QTest::addColumn<QString>("message");
    const QString key = ApiRequest::responseKey;
    const QByteArray reply = encode(QStringLiteral("{\"response_code\":1,\"message\":\"Welcome\"}"), key).toUtf8();
    QTest::newRow("protected object") << reply << false << "Welcome";
    QTest::newRow("text after a NUL ignored") << reply + QByteArray("\0garbage", 8) << false << "Welcome";
    QTest::newRow("escaped non-ascii survives")
        << encode(QStringLiteral("{\"message\":\"Contrase\\u00f1a\"}"), key).toUtf8() << false
        << QStringLiteral("Contraseña");
    QTest::newRow("plain JSON is not a protected reply") << QByteArray("{\"message\":\"x\"}") << true << "";
    QTest::newRow("empty") << QByteArray() << true << "";
    QTest::newRow("protected non-JSON") << encode(QStringLiteral("<html>"), key).toUtf8() << true << "";
}

void TestApiUnits::decodeResponse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, parseError);
    QFETCH(QString, message);
    bool error = !parseError;
    const QJsonDocument document = BaseHttpRequest::decodeResponse(bytes, ApiRequest::responseKey, &error);
    QCOMPARE(error, parseError);
    if (!parseError)
        QCOMPARE(document.object().value("message").toString(), message);
}

void TestApiUnits::invalidUrlSendsNothing_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("empty") << "";
    QTest::newRow("no scheme") << "relay.tavrixvpn.com/api";
    QTest::newRow("no host") << "https://";
    QTest::newRow("broken") << "http://[::1";
}

void TestApiUnits::invalidUrlSendsNothing()
{
    QFETCH(QString, url);
    BaseHttpRequest request;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(request.post(url, "a=1", {}).status, BaseHttpRequest::InvalidUrl);
    QCOMPARE(request.get(url).status, BaseHttpRequest::InvalidUrl);
    QVERIFY(request.post(url, "a=1", {}).body.isEmpty());
    QVERIFY(clock.elapsed() < 1000);
}

void TestApiUnits::callingCode_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<int>("code");
    QTest::newRow("Dhaka") << "Asia/Dhaka" << 880;
    QTest::newRow("Berlin") << "Europe/Berlin" << 49;
    QTest::newRow("New York") << "America/New_York" << 1;
    QTest::newRow("no country") << "UTC" << -1;
}

void TestApiUnits::callingCode()
{
    QFETCH(QString, zone);
    QFETCH(int, code);
    if (BaseHttpRequest::callingCode(QStringLiteral("Bangladesh")) < 0)
        QSKIP("the calling-code resource is not part of this build");
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", zone.toUtf8());
    const int result = BaseHttpRequest::currentCallingCode();
    const QString header = BaseHttpRequest().requestHeaders().value("countryCode");
    qputenv("TZ", saved);
    QCOMPARE(result, code);
    QCOMPARE(header, QString::number(code));
}

// Which login and sign-up addresses reach the store: the country document's, when one names
// the machine's country, else the main document's. A document for another country, a name
// without "/" and an empty code must all leave the main document's values.
void TestApiUnits::countryDocumentOverridesLogin_data()
{
    QTest::addColumn<QString>("countryJson");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("signup");
    const QString doc = QStringLiteral(
        R"({"documents":[{"name":"projects/x/documents/country/%1","fields":{"login_url":{"stringValue":"L-%1"},)"
        R"("signup_url":{"stringValue":"%2"}}}]})");
    QTest::newRow("matching country") << doc.arg(QStringLiteral("DE"), QStringLiteral("S-DE")) << "DE" << true << "L-DE"
                                      << "S-DE";
    QTest::newRow("matching, empty signup keeps main")
        << doc.arg(QStringLiteral("DE"), QString()) << "DE" << true << "L-DE"
        << "main-signup";
    QTest::newRow("other country") << doc.arg(QStringLiteral("FR"), QStringLiteral("S-FR")) << "DE" << false
                                   << "main-login"
                                   << "main-signup";
    QTest::newRow("unmapped zone") << doc.arg(QStringLiteral("DE"), QStringLiteral("S-DE")) << "" << false
                                   << "main-login"
                                   << "main-signup";
    QTest::newRow("name without slash") << R"({"documents":[{"name":"DE","fields":{"login_url":{"stringValue":"L"}}}]})"
                                        << "DE" << true << "L"
                                        << "main-signup";
    QTest::newRow("documents not an array") << R"({"documents":{"name":"a/DE"}})"
                                            << "DE" << false << "main-login"
                                            << "main-signup";
}

void TestApiUnits::countryDocumentOverridesLogin()
{
    QFETCH(QString, countryJson);
    QFETCH(QString, code);
    QFETCH(bool, found);
    QFETCH(QString, login);
    QFETCH(QString, signup);
    const QJsonObject main =
        QJsonDocument::fromJson(R"({"app_id":{"stringValue":"main-login"},"signup":{"stringValue":"main-signup"}})")
            .object();
    const auto country =
        EndpointDocuments::countryEndpoints(QJsonDocument::fromJson(countryJson.toUtf8()).object(), code);
    QCOMPARE(country.found, found);
    QString storedLogin;
    QString storedSignup;
    QString storedPricing = QStringLiteral("untouched");
    for (const auto &endpoint : EndpointDocuments::endpointTable()) {
        const QString value = EndpointDocuments::rawEndpointValue(endpoint, main, country);
        if (QLatin1String(endpoint.settingsKey) == QLatin1String("LoginURL"))
            storedLogin = value;
        else if (QLatin1String(endpoint.settingsKey) == QLatin1String("SignUpURL"))
            storedSignup = value;
        else if (QLatin1String(endpoint.settingsKey) == QLatin1String("pricingOnline"))
            storedPricing = value;
    }
    QCOMPARE(storedLogin, login);
    QCOMPARE(storedSignup, signup);
    // A field the main document lacks is not stored at all.
    QVERIFY(storedPricing.isEmpty());
}

TAVRIX_TEST_MAIN_CORE(TestApiUnits)
#include "tst_apiunits.moc"
