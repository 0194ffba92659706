// The voucher, referral, devices and dark-web pages and the support page's report: what they
// decide on their own, and the pages themselves against the development service.

#include <QApplication>
#include <QClipboard>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QUrlQuery>

#include "api/apimanager.h"
#include "api/apirequest.h"
#include "common/config.h"
#include "common/crypto.h"
#include "common/user.h"
#include "devservice.h"
#include "log/filelogger.h"
#include "testmain_gui.h"
#include "ui/account/accountanswers.h"
#include "ui/account/accountrequest.h"
#include "ui/account/darkwebmonitoringpage.h"
#include "ui/account/devicespage.h"
#include "ui/account/redeemvoucherpage.h"
#include "ui/account/referfriendpage.h"
#include "ui/account/referralredeem.h"
#include "ui/account/referralshare.h"
#include "ui/account/socalmediawidget.h"
#include "ui/diagnosticreport.h"
#include "ui/urlopener.h"
#include "uitesthelpers.h"
#include "vpn/openconnectconnection.h"

using namespace Tavrix;
using TavrixTest::answerNextDBox;

namespace {

const QString kMessage = "Hey! Use my Tavrix VPN Refer Code and Purchase a Subscription \nRefer Code:";

template<typename Page> void waitIdle(Page &page)
{
    QVERIFY(QTest::qWaitFor([&] { return !page.request()->isBusy(); }, 20000));
}

QPushButton *button(QWidget &page, const char *name)
{
    return page.findChild<QPushButton *>(QLatin1String(name));
}

QLineEdit *field(QWidget &page)
{
    return page.findChild<QLineEdit *>(QStringLiteral("editCode"));
}

} // namespace

class AccountPagesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void shareAddresses_data();
    void shareAddresses();
    void shareCodeCannotAddQueryItems_departsFromPlainMailBody();
    void deviceRowsListLinuxBesideTheFourDesignedGroups();
    void referralContentLastMemberWins_data();
    void referralContentLastMemberWins();
    void diagnosticReportHidesEverySecret();
    void accountRepliesStayOutOfLogAndReport();

    void voucher();
    void voucherRequestLeavesWindowResponsiveAndIgnoresSecondPress();
    void darkWeb_data();
    void darkWeb();
    void devices_data();
    void devices();
    void referFriendShares();
    void referFriendWrongShape();
    void referralRedeem();

private:
    QString pathOf(const char *key) const { return QUrl(m_endpoints.value(QLatin1String(key))).path(); }
    int requestsTo(const QString &path);
    bool setProtectedBody(const char *key, const QByteArray &json);

    TavrixTest::DevService m_service;
    QMap<QString, QString> m_endpoints;
    QList<QUrl> m_opened;
};

void AccountPagesTest::initTestCase()
{
    if (!m_service.start())
        QFAIL("the development service did not start");
    m_service.exportEnvironment();
    APIManager manager;
    manager.fetchAllDefaultConfig();
    QSettings settings;
    settings.beginGroup("UserDefaults");
    for (const QString &key : settings.childKeys())
        m_endpoints.insert(key, settings.value(key).toString());
    QVERIFY(m_endpoints.value("loggedDevice").startsWith(m_service.url()));
    setUrlOpenHook([this](const QUrl &url) {
        m_opened.append(url);
        return true;
    });
}

void AccountPagesTest::init()
{
    QVERIFY(m_service.reset());
    Config::instance()->setUserName("premium@tavrixvpn.test", true);
    Config::instance()->setPassword("premiumpass1", true);
    m_opened.clear();
}

void AccountPagesTest::cleanup()
{
    // No answer box or popup may outlive its test.
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && (qobject_cast<DBox *>(widget) || qobject_cast<CongratulationsPopup *>(widget)))
            widget->close();
    }
}

int AccountPagesTest::requestsTo(const QString &path)
{
    int count = 0;
    for (const QJsonValue &request : m_service.requests())
        count += request.toObject().value("path").toString() == path;
    return count;
}

bool AccountPagesTest::setProtectedBody(const char *key, const QByteArray &json)
{
    return m_service.setBody(pathOf(key), encode(QString::fromUtf8(json), ApiRequest::responseKey).toUtf8());
}

void AccountPagesTest::shareAddresses_data()
{
    const QByteArray origin = m_service.url().toUtf8();
    const QByteArray download = QUrl::toPercentEncoding("\nDownload Tavrix VPN: " + origin + "/download");
    const QByteArray text = QUrl::toPercentEncoding(kMessage + "AB12");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QByteArray>("address");
    QTest::newRow("Mail") << "Mail"
                          << "mailto:?subject=Tavrix%20VPN%20Refer%20Code&body=" +
                                 QUrl::toPercentEncoding(kMessage + "AB12\nDownload Tavrix VPN: " + origin +
                                                         "/download");
    QTest::newRow("Facebook") << "Facebook" << origin + "/sharer.php?u=" + QUrl::toPercentEncoding(origin + "/");
    QTest::newRow("Twitter") << "Twitter" << origin + "/intent/tweet?url=" + download + "&text=" + text;
    QTest::newRow("Messenger") << "Messenger"
                               << "fb-messenger://share?link=" + download + "&app_id=?&quote=" + text;
    QTest::newRow("LinkedIn") << "LinkedIn"
                              << origin +
                                     "/sharing/share-offsite/?url=" + QUrl::toPercentEncoding(origin + "/download") +
                                     "&summary=" + text;
    QTest::newRow("WhatsApp") << "WhatsApp"
                              << "whatsapp://send?text=" + text;
}

void AccountPagesTest::shareAddresses()
{
    QFETCH(QString, title);
    QFETCH(QByteArray, address);
    User::instance()->setReferralCode("AB12");
    QCOMPARE(ReferralShare::address(title, "AB12").toEncoded(), address);
    // The popup's entry opens exactly that address, through the seam.
    SocalMediaWidget popup;
    popup.show();
    SocialPlatformWidget *entry = nullptr;
    for (auto *candidate : popup.findChildren<SocialPlatformWidget *>())
        entry = candidate->title() == title ? candidate : entry;
    QVERIFY(entry);
    QTest::mouseClick(entry, Qt::LeftButton);
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().toEncoded(), address);
    QVERIFY(!popup.isVisible());
}

void AccountPagesTest::shareCodeCannotAddQueryItems_departsFromPlainMailBody()
{
    const QString code = "X1&text=evil#frag?a=b c";
    for (const QString &title : ReferralShare::titles()) {
        const QUrl url = ReferralShare::address(title, code);
        QVERIFY2(url.isValid(), qPrintable(title));
        QVERIFY2(url.fragment().isEmpty(), qPrintable(title));
        const QUrlQuery query(url);
        QStringList names;
        for (const auto &item : query.queryItems())
            names << item.first;
        QVERIFY2(!names.contains("a") && names.count("text") <= 1, qPrintable(title + ": " + names.join(',')));
        // The code arrives whole in the item that carries the message.
        const QString carrier = title == "Mail"        ? "body"
                                : title == "LinkedIn"  ? "summary"
                                : title == "Messenger" ? "quote"
                                                       : "text";
        if (title != "Facebook")
            QVERIFY2(query.queryItemValue(carrier, QUrl::FullyDecoded).contains("Refer Code:" + code),
                     qPrintable(title));
    }
}

// Linux machines sign in with their distribution's id (QSysInfo::productType()), and get a
// group of their own after the four designed ones.
void AccountPagesTest::deviceRowsListLinuxBesideTheFourDesignedGroups()
{
    const QString devices = QStringLiteral(R"([
        {"os_name": "Windows", "model": "XPS 13", "brand": "Dell", "os_version": "11", "vpn_app_version": "5.6.0"},
        {"os_name": "Linux", "model": "ThinkPad", "brand": "Lenovo", "os_version": "6.1", "vpn_app_version": "1"},
        {"os_name": "Ubuntu", "model": "Latitude", "os_version": "24.04"},
        {"os_name": "%1", "model": "This one"},
        {"os_name": "haiku", "model": "Not listed"},
        42,
        {"os_name": "android", "model": "", "brand": "Samsung", "os_version": "14", "vpn_app_version": "5.4.1"},
        {"os_name": "IOS", "brand": "Apple"},
        {"os_name": "HUAWEI", "model": "P60"}])");
    auto rows =
        AccountAnswers::deviceRows(QJsonDocument::fromJson(devices.arg(QSysInfo::productType()).toUtf8()).array());
    QCOMPARE(rows.size(), 7);
    const QStringList linuxModels{"ThinkPad", "Latitude", "This one"};
    for (const QString &model : linuxModels) {
        const auto row = rows.takeAt(1);
        QCOMPARE(int(row.platform), int(AccountAnswers::DevicePlatform::Linux));
        QCOMPARE(row.model, model);
    }
    QCOMPARE(int(rows[0].platform), int(AccountAnswers::DevicePlatform::Windows));
    QCOMPARE(rows[0].model, "XPS 13");
    QCOMPARE(rows[0].osVersion, "(windows 11)");
    QCOMPARE(rows[0].appVersion, "App Version-5.6.0");
    QCOMPARE(int(rows[1].platform), int(AccountAnswers::DevicePlatform::Android));
    QCOMPARE(rows[1].model, "Samsung");
    QCOMPARE(int(rows[2].platform), int(AccountAnswers::DevicePlatform::Apple));
    QCOMPARE(rows[2].osVersion, "(ios )");
    QCOMPARE(int(rows[3].platform), int(AccountAnswers::DevicePlatform::Huawei));
}

void AccountPagesTest::referralContentLastMemberWins_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("title");
    const QByteArray member = R"({"referral_code": "AB12", "pageContent": {"title": "T", "message": "M"}})";
    QTest::newRow("object last") << R"({"message": "ok", "response_code": 1, "user_referral": )" + member + "}"
                                 << "AB12"
                                 << "T";
    QTest::newRow("number last") << R"({"a": )" + member + R"(, "zz": 5})"
                                 << ""
                                 << "";
    QTest::newRow("no members") << QByteArray("{}") << ""
                                << "";
}

void AccountPagesTest::referralContentLastMemberWins()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, code);
    QFETCH(QString, title);
    const auto content = AccountAnswers::referralContent(QJsonDocument::fromJson(json).object());
    QCOMPARE(content.code, code);
    QCOMPARE(content.title, title);
}

void AccountPagesTest::diagnosticReportHidesEverySecret()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("logger.txt");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 500; ++i)
        file.write(QByteArray("[2026-01-01 10:00:00.000] [DEBUG] filler line ") + QByteArray::number(i) + "\n");
    const QByteArray secrets[] = {"[DEBUG] body username=a%40b.c&pass=Pa55word!&udid=1",
                                  "[DEBUG] Set-Cookie: webvpn=C00K1E; Secure",
                                  "[DEBUG] Opening URL: https://pay.example/checkout?authToken=T0KEN123&plan=1",
                                  "[DEBUG] Processing URL scheme input: tavrixvpn://authenticate?value=L1NKPASS",
                                  "[DEBUG] jsonData {\"password\":\"JS0NPASS\",\"token\": \"JS0NT0KEN\"}",
                                  "[DEBUG] header Authorization: Bearer BEARERT0K",
                                  "[DEBUG] engine said hunter2-stored"};
    for (const QByteArray &line : secrets)
        file.write(line + "\r\n");
    file.close();

    const QStringList lines = DiagnosticReport::lastLines(path, 300);
    QCOMPARE(lines.size(), 300);
    // Carriage returns of a Windows log are dropped.
    QVERIFY(lines.last().endsWith("hunter2-stored"));
    DiagnosticReport::Facts facts{"5.6.0", "Debian 12", DiagnosticReport::statusName(OpenConnectConnection::CONNECTED),
                                  path};
    const QString report = DiagnosticReport::build(facts, lines, {"hunter2-stored"});
    for (const char *secret :
         {"Pa55word", "C00K1E", "T0KEN123", "L1NKPASS", "JS0NPASS", "JS0NT0KEN", "BEARERT0K", "hunter2-stored"})
        QVERIFY2(!report.contains(secret), secret);
    QVERIFY(report.contains("Version: 5.6.0") && report.contains("Status: Connected"));
    QVERIFY(report.contains("filler line 499") && !report.contains("filler line 206\n"));
    QVERIFY(report.contains("plan=1") && report.contains("udid=1"));
}

// The account's replies (sign-in, devices, referral, dark-web check, purchase history) hold
// personal data: the log file, and the report built from it, get their outline only.
void AccountPagesTest::accountRepliesStayOutOfLogAndReport()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("logger.txt");
    QVERIFY(initFileLogging(path));
    const QtMessageHandler previous = qInstallMessageHandler(fileMessageHandler);
    auto restore = qScopeGuard([previous] {
        qInstallMessageHandler(previous);
        closeFileLogging();
    });

    const auto api = ApiRequest::instance();
    QCOMPARE(api->login("premium@tavrixvpn.test", "premiumpass1"), int(ApiRequest::LoginSuccess));
    {
        DevicesPage devices;
        devices.show();
        QTRY_VERIFY_WITH_TIMEOUT(requestsTo(pathOf("loggedDevice")) == 1, 5000);
        waitIdle(devices);
        ReferFriendPage refer;
        refer.show();
        QTRY_COMPARE_WITH_TIMEOUT(field(refer)->text(), QStringLiteral("PREM4X9T"), 10000);
    }
    QCOMPARE(api->darkWebCheck("premium@tavrixvpn.test"), 0);
    QCOMPARE(api->purchaseHistory(), 0);
    QCOMPARE(User::instance()->purchaseHistory().size(), 2);
    closeFileLogging();

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(file.readAll());
    const QString report = DiagnosticReport::build({"5.6.0", "Debian 12", "Disconnected", path},
                                                   DiagnosticReport::lastLines(path, 100000), {});
    // Outlines are there; nothing of the replies' content is.
    QVERIFY2(log.contains("purchaseHistory Data :  response_code 1, data: 2 entries"), qPrintable(log));
    QVERIFY(log.contains("referInfo Data :  response_code 1"));
    for (const char *content :
         {"PREM4X9T", "TX-7F3A91C20B", "plan_name", "tnx_id", "os_name", "vpn_app_version", "pageContent",
          "referral_code", "ip_bundle", "card_payment_packages", "slider_images", "\"data\"", "\"response_code\""}) {
        QVERIFY2(!log.contains(content), content);
        QVERIFY2(!report.contains(content), content);
    }
}

void AccountPagesTest::voucher()
{
    RedeemVoucherPage page;
    page.show();
    // Empty: the account API is still asked and its answer shown.
    auto answer = answerNextDBox("btnSubmit");
    QTest::mouseClick(button(page, "btnSubmit"), Qt::LeftButton);
    waitIdle(page);
    QTRY_VERIFY_WITH_TIMEOUT(answer->answered, 5000);
    QCOMPARE(answer->title, "Empty Subscription Code!");
    QCOMPARE(answer->submitText, "Ok");

    field(page)->setText("TAVRIX-30DAYS");
    answer = answerNextDBox("btnSubmit");
    QTest::mouseClick(button(page, "btnSubmit"), Qt::LeftButton);
    waitIdle(page);
    QTRY_VERIFY_WITH_TIMEOUT(answer->answered, 5000);
    QVERIFY2(answer->title.contains("30 days"), qPrintable(answer->title));
    QCOMPARE(requestsTo(pathOf("redeemVoucherURL")), 1);
    QCOMPARE(button(page, "btnSubmit")->text(), "Subscribe");
    QVERIFY(button(page, "btnSubmit")->isEnabled());
    QTRY_VERIFY(field(page)->text().isEmpty());
}

void AccountPagesTest::voucherRequestLeavesWindowResponsiveAndIgnoresSecondPress()
{
    QVERIFY(m_service.set(pathOf("redeemVoucherURL"), "slow", 0, 1500));
    RedeemVoucherPage page;
    page.show();
    field(page)->setText("TAVRIX-1YEAR");
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    auto answer = answerNextDBox("btnSubmit");
    QPushButton *submit = button(page, "btnSubmit");
    QTest::mouseClick(submit, Qt::LeftButton);
    QVERIFY(page.request()->isBusy());
    QVERIFY(submit->text().isEmpty());
    QVERIFY(!submit->icon().isNull());
    // A second press, also through the slot itself, starts nothing.
    QTest::mouseClick(submit, Qt::LeftButton);
    page.on_btnSubmit_pressed();
    waitIdle(page);
    QTRY_VERIFY_WITH_TIMEOUT(answer->answered, 5000);
    QCOMPARE(requestsTo(pathOf("redeemVoucherURL")), 1);
    QVERIFY2(ticks >= 15, qPrintable(QString::number(ticks)));
}

void AccountPagesTest::darkWeb_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("requests");
    QTest::newRow("empty") << ""
                           << "Email is empty!" << 0;
    QTest::newRow("malformed") << "not-an-address"
                               << "Email Address not Valid" << 0;
    QTest::newRow("accepted") << "premium@tavrixvpn.test"
                              << "Dark web check request submitted successfully. \nThe result will be sent to your "
                                 "email soon!"
                              << 1;
}

void AccountPagesTest::darkWeb()
{
    QFETCH(QString, email);
    QFETCH(QString, answer);
    QFETCH(int, requests);
    DarkWebMonitoringPage page;
    page.show();
    field(page)->setText(email);
    auto box = answerNextDBox("btnSubmit");
    QTest::mouseClick(button(page, "btnVerify"), Qt::LeftButton);
    waitIdle(page);
    QTRY_VERIFY_WITH_TIMEOUT(box->answered, 5000);
    QCOMPARE(box->title, answer);
    QCOMPARE(requestsTo(pathOf("darkWebURL")), requests);
    QVERIFY(field(page)->text().isEmpty());
    QCOMPARE(button(page, "btnVerify")->text(), "Verify");
}

void AccountPagesTest::devices_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("models");
    QTest::addColumn<QStringList>("groups");
    QTest::addColumn<bool>("failed");
    QTest::newRow("mixed") << QByteArray(R"({"response_code": 1, "message": "ok", "data": [
        {"os_name": "Windows", "model": "XPS 13", "os_version": "11", "vpn_app_version": "5.6.0"},
        {"os_name": "Linux", "model": "ThinkPad"}, "junk",
        {"os_name": "android", "brand": "Samsung", "os_version": "14"}]})")
                           << QStringList{"XPS 13", "Samsung", "ThinkPad"}
                           << QStringList{"windowsGroup", "androidGroup", "linuxGroup"} << false;
    QTest::newRow("data not an array") << QByteArray(R"({"response_code": 1, "data": {"os_name": "Windows"}})")
                                       << QStringList() << QStringList() << false;
    // Not an answer at all: the call failed, which the page reports before going back.
    QTest::newRow("answer not an object") << QByteArray("[1, 2]") << QStringList() << QStringList() << true;
}

void AccountPagesTest::devices()
{
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, models);
    QFETCH(QStringList, groups);
    QFETCH(bool, failed);
    QVERIFY(setProtectedBody("loggedDevice", answer));
    Config::saveState(0, 0);
    DevicesPage page;
    QSignalSpy back(&page, &DevicesPage::clickBack);
    auto box = answerNextDBox("btnSubmit", failed ? 20000 : 0);
    page.show();
    QTRY_VERIFY_WITH_TIMEOUT(requestsTo(pathOf("loggedDevice")) == 1, 5000);
    waitIdle(page);
    QStringList shownModels, shownGroups;
    for (const char *group : {"appleGroup", "windowsGroup", "androidGroup", "huaweiGroup", "linuxGroup"}) {
        QWidget *box = page.findChild<QWidget *>(group);
        QVERIFY(box);
        if (box->isVisible())
            shownGroups << group;
        for (auto *label : box->findChildren<QLabel *>("lblModel"))
            shownModels << label->text();
    }
    QCOMPARE(shownModels, models);
    QCOMPARE(shownGroups, groups);
    QCOMPARE(page.findChild<QLabel *>("lblEmpty")->isVisible(), models.isEmpty());
    if (!models.isEmpty())
        QCOMPARE(page.findChild<QWidget *>("windowsGroup")->findChild<QLabel *>("lblOSVersion")->text(),
                 "(windows 11)");
    QCOMPARE(back.count(), failed ? 1 : 0);
    if (failed) {
        QTRY_VERIFY_WITH_TIMEOUT(box->answered, 5000);
        QCOMPARE(box->title, "Invalid server response format");
    } else {
        QCOMPARE(Config::loadState().first, 10);
    }
}

void AccountPagesTest::referFriendShares()
{
    ReferFriendPage page;
    page.resize(440, 700);
    page.show();
    QTRY_VERIFY_WITH_TIMEOUT(page.findChild<QWidget *>("controlWidget")->isVisible(), 10000);
    QCOMPARE(field(page)->text(), "PREM4X9T");
    QCOMPARE(User::instance()->referralCode(), "PREM4X9T");
    QVERIFY(!page.findChild<QLabel *>("lblTitle")->text().isEmpty());

    QTest::mouseClick(button(page, "btnSubscribe_3"), Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->mimeData()->data("text/plain"), QByteArray("PREM4X9T"));

    QWidget *popup = page.sharePopup();
    QVERIFY(!popup->isVisible());
    QTest::mouseClick(button(page, "btnShare"), Qt::LeftButton);
    QVERIFY(popup->isVisible());
    QVERIFY(page.rect().contains(popup->geometry()));
    QTest::mouseClick(button(page, "btnShare"), Qt::LeftButton);
    QVERIFY(!popup->isVisible());

    // Leaving the page closes the popup.
    QTest::mouseClick(button(page, "btnShare"), Qt::LeftButton);
    QSignalSpy redeem(&page, &ReferFriendPage::redeemReferalClick);
    QTest::mouseClick(button(page, "btnRedeemReferal"), Qt::LeftButton);
    QCOMPARE(redeem.count(), 1);
    QVERIFY(!popup->isVisible());
}

void AccountPagesTest::referFriendWrongShape()
{
    User::instance()->setReferralCode("OLD");
    QVERIFY(setProtectedBody(
        "RererInfoURL",
        R"({"response_code": 1, "message": "ok", "user_referral": {"referral_code": "AB12"}, "zz_last": 7})"));
    ReferFriendPage page;
    page.show();
    QTRY_VERIFY_WITH_TIMEOUT(requestsTo(pathOf("RererInfoURL")) == 1, 5000);
    waitIdle(page);
    QVERIFY(field(page)->text().isEmpty());
    QVERIFY(page.findChild<QLabel *>("lblTitle")->text().isEmpty());
    QVERIFY(page.findChild<QLabel *>("lblMessage")->text().isEmpty());
    QVERIFY(User::instance()->referralCode().isEmpty());
}

void AccountPagesTest::referralRedeem()
{
    ReferralRedeem page;
    page.show();
    auto box = answerNextDBox("btnSubmit");
    QTest::mouseClick(button(page, "btnSubmit"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(box->answered, 5000);
    QCOMPARE(box->title, "Refer code is empty!");
    QCOMPARE(requestsTo(pathOf("ReferURL")), 0);

    QSignalSpy refresh(&page, &ReferralRedeem::refresh);
    QSignalSpy back(&page, &ReferralRedeem::clickBack);
    field(page)->setText("FREE7Q2K");
    QTest::mouseClick(button(page, "btnSubmit"), Qt::LeftButton);
    waitIdle(page);
    QCOMPARE(refresh.count(), 1);
    QVERIFY(field(page)->text().isEmpty());
    QCOMPARE(button(page, "btnSubmit")->text(), "Procced");
    CongratulationsPopup *popup = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        popup = qobject_cast<CongratulationsPopup *>(widget) ? qobject_cast<CongratulationsPopup *>(widget) : popup;
    QVERIFY(popup && popup->isVisible());
    // It waits for an answer: time, Escape and clicks elsewhere leave it up.
    QTest::qWait(300);
    QTest::keyClick(popup, Qt::Key_Escape);
    QVERIFY(popup->isVisible());
    QPointer<CongratulationsPopup> guard(popup);
    QTest::mouseClick(popup->findChild<QPushButton *>("btnReferMore"), Qt::LeftButton);
    QCOMPARE(back.count(), 1);
    QTRY_VERIFY(guard.isNull());
}

TAVRIX_TEST_MAIN_GUI(AccountPagesTest)
#include "tst_accountpages.moc"
