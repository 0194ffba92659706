// Offers, the account page, purchase history, the home banners and the network tools page,
// against the development service. Addresses meant for the browser are caught through the
// opener's hook; the log is read to make sure no sign-in token reaches it.

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QUrlQuery>

#include "../ui/uitesthelpers.h"
#include "api/apimanager.h"
#include "api/apirequest.h"
#include "common/banners.h"
#include "common/config.h"
#include "common/crypto.h"
#include "common/ipbundle.h"
#include "common/user.h"
#include "common/weblink.h"
#include "devservice.h"
#include "platform/deviceinfo.h"
#include "platform/paths.h"
#include "testmain_gui.h"
#include "ui/account/accoutbottombutton.h"
#include "ui/account/bannerimage.h"
#include "ui/account/homeimage.h"
#include "ui/account/myaccountpage.h"
#include "ui/account/package.h"
#include "ui/account/paymenthistory.h"
#include "ui/account/paymentpage.h"
#include "ui/account/purchasedwidget.h"
#include "ui/dbox.h"
#include "ui/servers/toolspage.h"
#include "ui/urlopener.h"
#include "vpn/openconnectconnection.h"

using namespace Tavrix;

namespace {

QStringList &logged()
{
    static QStringList messages;
    return messages;
}

QtMessageHandler previousHandler = nullptr;

void keepMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    logged().append(message);
    if (previousHandler)
        previousHandler(type, context, message);
}

QJsonObject package(int id, const QString &name, bool shown = true)
{
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("price"), QStringLiteral("%1.99").arg(id)},
                       {QStringLiteral("sub_title"), QStringLiteral("Billed once")},
                       {QStringLiteral("highlighted_text"), QStringLiteral("%1% Save now").arg(id)},
                       {QStringLiteral("should_show"), shown}};
}

QJsonObject tokenOf(const QUrl &url)
{
    const QString token = QUrlQuery(url).queryItemValue(QStringLiteral("authToken"), QUrl::FullyDecoded);
    return QJsonDocument::fromJson(decode(token, CodecKey::link()).toUtf8()).object();
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

template<typename T> T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

} // namespace

class AccountTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void bannerOrder_data();
    void bannerOrder();
    void bannerFiles_data();
    void bannerFiles();
    void bannerSliderOpensSignedInAddress();
    void bannerPressWithoutValidAddressOpensNothing_data();
    void bannerPressWithoutValidAddressOpensNothing();
    void purchasePageOffersAndCheckout();
    void tokenOnlyToServiceHttps_data();
    void tokenOnlyToServiceHttps();
    void accountPage_data();
    void accountPage();
    void purchaseHistory_data();
    void purchaseHistory();
    void toolsPageLevelsAddressesAndSpeeds();

private:
    void signIn(const QString &email, const QString &password);
    bool checkoutPageSignedIn(const QUrl &url, const QString &userName);

    TavrixTest::DevService m_service;
    QList<QUrl> m_opened;
};

void AccountTest::initTestCase()
{
    qApp->setQuitOnLastWindowClosed(false);
    previousHandler = qInstallMessageHandler(keepMessage);
    setUrlOpenHook([this](const QUrl &url) {
        m_opened.append(url);
        return true;
    });
    // The counter stand-in lives with the other programs of the build.
    const QString bin = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin")).absolutePath();
    qputenv("PATH", (bin + QLatin1Char(':') + qEnvironmentVariable("PATH")).toLocal8Bit());
    if (!m_service.start())
        QSKIP("the development service did not start");
    m_service.exportEnvironment();
    APIManager manager;
    QSignalSpy updated(&manager, &APIManager::configUpdated);
    manager.fetchAllDefaultConfig();
    QCOMPARE(updated.count(), 1);
}

void AccountTest::init()
{
    QVERIFY(m_service.reset());
    m_opened.clear();
    logged().clear();
    *User::instance() = User();
    Config::instance()->setConnectionState(false);
    QDir(bannerFolder()).removeRecursively();
}

void AccountTest::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        widget->close();
}

void AccountTest::signIn(const QString &email, const QString &password)
{
    QCOMPARE(ApiRequest::instance()->login(email, password), int(ApiRequest::LoginSuccess));
    OpenConnectConnection::instance()->setUsername(email);
    OpenConnectConnection::instance()->setPassword(password);
    Config::instance()->setUserName(email, true);
    Config::instance()->setPassword(password, true);
}

bool AccountTest::checkoutPageSignedIn(const QUrl &url, const QString &userName)
{
    // The service's own page reads the token back: the strongest check that it survives
    // the trip through the address.
    const auto answer = m_service.request(url.path() + QLatin1Char('?') + url.query(QUrl::FullyEncoded));
    const QString page = QString::fromUtf8(answer.body);
    if (answer.status != 200 || !page.contains(QStringLiteral("<b>%1</b> (token valid)").arg(userName))) {
        qWarning().noquote() << answer.status << page;
        return false;
    }
    return true;
}

void AccountTest::bannerOrder_data()
{
    QTest::addColumn<QJsonArray>("priorities");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("5,1,3") << QJsonArray{5, 1, 3} << QStringList{"1", "2", "0"};
    QTest::newRow("equal priorities keep the reply's order")
        << QJsonArray{2, 1, 2, 2} << QStringList{"1", "0", "2", "3"};
    QTest::newRow("string \"2\" counts as 0") << QJsonArray{1, QStringLiteral("2"), 0} << QStringList{"1", "2", "0"};
}

void AccountTest::bannerOrder()
{
    QFETCH(QJsonArray, priorities);
    QFETCH(QStringList, order);
    QJsonArray images{QStringLiteral("not an object")};
    for (int i = 0; i < priorities.size(); ++i)
        images.append(QJsonObject{{QStringLiteral("img"), QString::number(i)},
                                  {QStringLiteral("priority_slider_img_priority"), priorities.at(i)}});
    User user;
    user.setSliderImages(images);
    QStringList got;
    for (const QJsonValue &value : user.sliderImages())
        got << value.toObject().value(QStringLiteral("img")).toString();
    QCOMPARE(got, order);
}

void AccountTest::bannerFiles_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("announced");
    QTest::addColumn<QString>("storedAs");
    QTest::addColumn<bool>("shown");

    QFile png(QStringLiteral(":/assets/Ellipse.png"));
    QVERIFY(png.open(QIODevice::ReadOnly));
    const QByteArray picture = png.readAll();
    QTest::newRow("png") << "https://x.test/a/slide.png" << picture << qint64(picture.size()) << "banner_0.png" << true;
    QTest::newRow("jpg is stored, never shown")
        << "https://x.test/slide.jpg" << picture << qint64(-1) << "banner_0.jpg" << false;
    QTest::newRow("cut short leaves no file") << "https://x.test/slide.png" << picture.left(picture.size() / 2)
                                              << qint64(picture.size()) << QString() << false;
    QTest::newRow("oversized leaves no file")
        << "https://x.test/slide.png" << QByteArray(int(Banners::MaxPictureBytes) + 1, 'x') << qint64(-1) << QString()
        << false;
}

void AccountTest::bannerFiles()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, body);
    QFETCH(qint64, announced);
    QFETCH(QString, storedAs);
    QFETCH(bool, shown);

    const QString folder = bannerFolder();
    Banners::store(Banners::storedFileName(folder, 0, address), body, announced);
    QStringList files = QDir(folder).entryList(QDir::Files);
    QCOMPARE(files, storedAs.isEmpty() ? QStringList() : QStringList{storedAs});
    BannerImage image;
    QCOMPARE(image.showPicture(0, 2), shown);
    QCOMPARE(!image.pixmap(Qt::ReturnByValue).isNull(), shown);
}

void AccountTest::bannerSliderOpensSignedInAddress()
{
    signIn(QStringLiteral("premium@tavrixvpn.test"), QStringLiteral("premiumpass1"));
    const QJsonArray banners = User::instance()->sliderImages();
    QCOMPARE(banners.size(), 3);

    QWidget holder;
    holder.resize(600, 140);
    auto *slider = new HomeImage(&holder);
    QSignalSpy stored(slider, &HomeImage::downloadsFinished);
    holder.show();
    QVERIFY(stored.wait(15000));
    for (int i = 0; i < 3; ++i)
        QVERIFY2(QFileInfo::exists(bannerFolder() + QStringLiteral("banner_%1.png").arg(i)),
                 qPrintable(QString::number(i)));
    QCOMPARE(slider->position(), 1);

    // The second dot shows the second picture; a press then opens the second banner.
    const QList<QPushButton *> dots = slider->findChildren<QPushButton *>(QStringLiteral("bannerDot"));
    QCOMPARE(dots.size(), 3);
    QTest::mouseClick(dots.at(1), Qt::LeftButton);
    QCOMPARE(slider->position(), 2);
    auto *picture = child<BannerImage>(slider, "bannerPicture");
    QVERIFY(!picture->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(picture->opacity(), 1.0);

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QTest::mouseClick(child<BannerImage>(slider, "bannerWidget"), Qt::LeftButton);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(m_opened.size(), 1);
    const QUrl opened = m_opened.first();
    QCOMPARE(opened.adjusted(QUrl::RemoveQuery).toString(), banners.at(1).toObject().value("onclick_url").toString());
    const QJsonObject token = tokenOf(opened);
    QCOMPARE(token.value("username").toString(), QStringLiteral("premium@tavrixvpn.test"));
    QCOMPARE(token.value("password").toString(), QStringLiteral("premiumpass1"));
    QCOMPARE(token.value("udid").toString(), DeviceInfo::machineId());
    const qint64 ttl = token.value("ttl").toString().toLongLong();
    QVERIFY(ttl >= before + WebLink::TokenLifetimeMs && ttl <= after + WebLink::TokenLifetimeMs);

    // The address reaches the log, its token does not.
    const QString tokenText = QUrlQuery(opened).queryItemValue("authToken", QUrl::FullyDecoded);
    bool loggedAddress = false;
    for (const QString &message : logged()) {
        QVERIFY2(!message.contains(tokenText) && !message.contains(QUrlQuery(opened).queryItemValue("authToken")),
                 qPrintable(message));
        loggedAddress = loggedAddress || message.startsWith(QStringLiteral("Opening URL: ") +
                                                            opened.adjusted(QUrl::RemoveQuery).toString());
    }
    QVERIFY(loggedAddress);
}

void AccountTest::bannerPressWithoutValidAddressOpensNothing_data()
{
    QTest::addColumn<QJsonArray>("banners");
    QTest::addColumn<QString>("warning");
    QTest::newRow("no banners") << QJsonArray() << "Invalid clickURLS array or index.";
    QTest::newRow("malformed address") << QJsonArray{QJsonObject{{"img", "https://x.test/a.png"},
                                                                 {"onclick_url", "http://exa mple.test/%zz"}}}
                                       << "Malformed URL:";
}

void AccountTest::bannerPressWithoutValidAddressOpensNothing()
{
    QFETCH(QJsonArray, banners);
    QFETCH(QString, warning);
    User::instance()->setSliderImages(banners);
    HomeImage slider;
    slider.show();
    QTest::qWait(50);
    QTest::mouseClick(child<BannerImage>(&slider, "bannerWidget"), Qt::LeftButton);
    QVERIFY(m_opened.isEmpty());
    QVERIFY(std::any_of(logged().cbegin(), logged().cend(), [&](const QString &m) { return m.startsWith(warning); }));
}

void AccountTest::purchasePageOffersAndCheckout()
{
    signIn(QStringLiteral("premium@tavrixvpn.test"), QStringLiteral("premiumpass1"));
    const auto user = User::instance();
    // Five shown packages (the fifth beyond the last full row) and a hidden one.
    user->setCardPaymentPackages(QJsonArray{package(1, "1 Month"), package(7, "Hidden", false), package(6, "6 Months"),
                                            package(12, "1 Year"), package(24, "2 Years"), package(36, "3 Years")});
    // Seven cells, mixed separators: two rows, the seventh cell dropped.
    Config::setUserDefault(QLatin1String(SettingsKey::freeVSpaid),
                           QStringLiteral("Feature~~Free~~Premium,Servers~~10~~100+,Extra"));

    PaymentPage page;
    page.resize(560, 900);
    page.show();
    auto *table = child<QTableWidget>(&page, "tableWidget");
    QVERIFY(waitFor([&] { return table->rowCount() > 0; }));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("100+"));
    QCOMPARE(table->item(1, 2)->foreground().color(), QColor(255, 159, 81));

    // Grid: 1 Month | 6 Months / 1 Year | (2 Years' empty cell); the bottom offer is position
    // 4 of the full array, the hidden package counted.
    auto *grid = qobject_cast<QGridLayout *>(child<QWidget>(&page, "offerGrid")->layout());
    const auto nameAt = [grid](int row, int column) {
        QLayoutItem *item = grid->itemAtPosition(row, column);
        return item ? child<QLabel>(item->widget(), "lblName")->text() : QString();
    };
    QCOMPARE(nameAt(0, 0), QStringLiteral("1 Month"));
    QCOMPARE(nameAt(0, 1), QStringLiteral("6 Months"));
    QCOMPARE(nameAt(1, 0), QStringLiteral("1 Year"));
    QCOMPARE(nameAt(1, 1), QString());
    auto *bottom = child<QWidget>(&page, "BottomPackage");
    QCOMPARE(child<QLabel>(bottom, "lblName")->text(), QStringLiteral("2 Years"));
    QCOMPARE(child<QLabel>(bottom, "lblPrice")->text(), QStringLiteral("24.99 $"));

    auto *yearly = qobject_cast<Package *>(grid->itemAtPosition(1, 0)->widget());
    auto *monthly = qobject_cast<Package *>(grid->itemAtPosition(0, 0)->widget());
    QVERIFY(yearly->badgeRed());
    QVERIFY(!monthly->badgeRed());
    QCOMPARE(child<QLabel>(yearly, "lblHighlightedText")->text(), QStringLiteral("12%\nSave"));

    QTest::mouseClick(yearly, Qt::LeftButton);
    QCOMPARE(m_opened.size(), 1);
    const QUrl checkout = m_opened.first();
    QCOMPARE(checkout.adjusted(QUrl::RemoveQuery).toString(), user->webPaymentPortalUrl() + "/checkout/12");
    QCOMPARE(QUrlQuery(checkout).queryItems().size(), 1);
    QVERIFY(checkoutPageSignedIn(checkout, QStringLiteral("premium@tavrixvpn.test")));

    // The features box keeps its address's own query and adds the token.
    auto *features = child<QLabel>(&page, "AccoutBottomButton");
    QVERIFY(waitFor([&] { return !features->pixmap(Qt::ReturnByValue).isNull(); }));
    QTest::mouseClick(features, Qt::LeftButton);
    QCOMPARE(m_opened.size(), 2);
    QCOMPARE(QUrlQuery(m_opened.last()).queryItemValue("ref"), QStringLiteral("desktop"));
    QCOMPARE(tokenOf(m_opened.last()).value("username").toString(), QStringLiteral("premium@tavrixvpn.test"));
}

void AccountTest::tokenOnlyToServiceHttps_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("token");
    const QUrl service(m_service.url());
    QTest::newRow("service origin") << service.toString() + "/offer" << true;
    QTest::newRow("service domain") << "https://www.tavrixvpn.com/offer" << true;
    QTest::newRow("service origin over http")
        << QStringLiteral("http://%1:%2/offer").arg(service.host()).arg(service.port()) << false;
    QTest::newRow("service domain over http") << "http://www.tavrixvpn.com/offer" << false;
    QTest::newRow("service host, other port") << QStringLiteral("https://%1:1/offer").arg(service.host()) << false;
    QTest::newRow("foreign host") << "https://shop.example/offer" << false;
    QTest::newRow("look-alike host") << "https://tavrixvpn.com.shop.example/offer" << false;
    QTest::newRow("user part") << "https://www.tavrixvpn.com@shop.example/offer" << false;
}

// Banner, features box and checkout addresses come from the service: only https ones of the
// service's own hosts get the sign-in token; the others open without it.
void AccountTest::tokenOnlyToServiceHttps()
{
    QFETCH(QString, address);
    QFETCH(bool, token);
    signIn(QStringLiteral("premium@tavrixvpn.test"), QStringLiteral("premiumpass1"));
    const auto user = User::instance();
    user->setSliderImages(QJsonArray{QJsonObject{{"img", "https://x.test/a.png"}, {"onclick_url", address}}});
    user->setWebPaymentPortalUrl(address);
    user->setFeaturesLink(address);
    HomeImage slider;
    slider.show();
    QTest::qWait(50);
    QTest::mouseClick(child<BannerImage>(&slider, "bannerWidget"), Qt::LeftButton);
    QVERIFY(Package::openCheckout(QStringLiteral("12")));
    AccoutBottomButton features(QSize(500, 160));
    QTest::mouseClick(&features, Qt::LeftButton);

    QCOMPARE(m_opened.size(), 3);
    for (const QUrl &opened : qAsConst(m_opened)) {
        QCOMPARE(QUrlQuery(opened).hasQueryItem(QStringLiteral("authToken")), token);
        QCOMPARE(opened.host(), QUrl(address).host());
        QCOMPARE(opened.scheme(), QUrl(address).scheme());
    }
    const auto refusals = std::count_if(logged().cbegin(), logged().cend(), [](const QString &m) {
        return m.startsWith(QLatin1String("Not adding the sign-in token"));
    });
    QCOMPARE(int(refusals), token ? 0 : 3);
}

void AccountTest::accountPage_data()
{
    QTest::addColumn<int>("loyal");
    QTest::addColumn<int>("userType");
    QTest::addColumn<QString>("typeText");
    QTest::addColumn<QString>("boxTitle");
    QTest::addColumn<bool>("buyNow");
    QTest::newRow("loyal with user_type 1") << 1 << 1 << "Loyal Premium"
                                            << "Expire on" << false;
    QTest::newRow("premium") << 0 << 2 << "Premium"
                             << "Expire on" << false;
    QTest::newRow("scratch card") << 0 << 1 << "Scratch Card"
                                  << "Unlock All" << true;
    QTest::newRow("free") << 0 << 3 << "Free"
                          << "Unlock All" << true;
}

void AccountTest::accountPage()
{
    QFETCH(int, loyal);
    QFETCH(int, userType);
    QFETCH(QString, typeText);
    QFETCH(QString, boxTitle);
    QFETCH(bool, buyNow);

    const QString name = QStringLiteral("abcdefghij0123456789ABCDEFGHIJ"); // 30 characters
    const QString password = QStringLiteral("pässwörd");
    OpenConnectConnection::instance()->setUsername(name);
    OpenConnectConnection::instance()->setPassword(password);
    const auto user = User::instance();
    user->setIs_loyal_user(loyal);
    user->setUser_type(userType);
    user->setExpire_in_days(42);
    user->setValidity_date(QDate(2027, 3, 1));

    // Shown for a paid account first: the next account must not inherit its box.
    MyAccountPage page;
    page.resize(420, 640);
    page.show();
    auto *status = child<QLabel>(&page, "lblAccountStatus");
    QVERIFY(waitFor([&] { return status->text() == typeText; }));
    QCOMPARE(child<QLabel>(&page, "lblUserName")->text(), name.left(25));
    QCOMPARE(child<QLabel>(&page, "lblUserPassword")->text(), QString(password.size(), QLatin1Char('*')));
    QCOMPARE(child<QLabel>(&page, "lblPackgeTitle")->text(), boxTitle);
    QCOMPARE(child<QPushButton>(&page, "byNowButton")->isVisible(), buyNow);
    QCOMPARE(child<QWidget>(&page, "NumberOfDayesWidget")->isVisible(), !buyNow);
    if (!buyNow) {
        QCOMPARE(child<QLabel>(&page, "lblDays")->text(), QStringLiteral("42 Days"));
        QCOMPARE(child<QLabel>(&page, "lblPackge")->text(), QDate(2027, 3, 1).toString(Qt::TextDate));
    }

    QTest::mouseClick(child<QPushButton>(&page, "btnCopyUser"), Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text(), name);
    QTest::mouseClick(child<QPushButton>(&page, "btnCopyPassword"), Qt::LeftButton);
    QCOMPARE(QString::fromUtf8(QApplication::clipboard()->mimeData()->data("text/plain")), password);
}

void AccountTest::purchaseHistory_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("failWith");
    QTest::addColumn<QStringList>("ids");
    QTest::newRow("empty") << "free@tavrixvpn.test"
                           << "freepass1" << 0 << QStringList();
    QTest::newRow("filled") << "premium@tavrixvpn.test"
                            << "premiumpass1" << 0 << QStringList{"TX-7F3A91C20B", "TX-51E0D4A7FF"};
    QTest::newRow("refused") << "premium@tavrixvpn.test"
                             << "premiumpass1" << 403 << QStringList();
}

void AccountTest::purchaseHistory()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(int, failWith);
    QFETCH(QStringList, ids);
    signIn(email, password);
    const QString path = QStringLiteral("/api/v2/purchase-history");
    // Slow enough to see whether the window keeps running meanwhile.
    if (failWith)
        QVERIFY(m_service.set(path, QStringLiteral("status"), failWith, 800, QStringLiteral("Account suspended")));
    else
        QVERIFY(m_service.set(path, QStringLiteral("slow"), 0, 800));

    auto answer = failWith ? TavrixTest::answerNextDBox("btnSubmit") : std::make_shared<TavrixTest::DBoxAnswer>();
    PaymentHistory page;
    page.resize(420, 640);
    QSignalSpy loaded(&page, &PaymentHistory::loaded);
    QSignalSpy back(&page, &PaymentHistory::btnBackPressed);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    page.show();
    // The refusal comes back at once; a slow answer shows the spinner while it runs.
    if (!failWith) {
        QVERIFY(waitFor([&] { return page.isLoading(); }, 2000));
        QVERIFY(child<QLabel>(&page, "lblSpinner")->isVisible());
    }
    QVERIFY(loaded.wait(15000));
    // The GUI thread kept turning while the slow request ran.
    if (!failWith)
        QVERIFY2(ticks > 20, qPrintable(QString::number(ticks)));
    QVERIFY(!child<QLabel>(&page, "lblSpinner")->isVisible());

    QStringList shown;
    for (auto *row : page.findChildren<PurchasedWidget *>())
        shown << child<QLabel>(row, "lblTnxID")->text();
    QCOMPARE(shown, ids);
    auto *message = child<QLabel>(&page, "lalMessage");
    if (failWith) {
        QVERIFY(answer->answered);
        QCOMPARE(answer->title, QStringLiteral("Account suspended"));
        QCOMPARE(answer->submitText, QStringLiteral("Ok"));
        QCOMPARE(back.count(), 1);
    } else {
        QCOMPARE(back.count(), 0);
        QCOMPARE(message->isVisible(), ids.isEmpty());
        if (ids.isEmpty())
            QCOMPARE(message->text(), QStringLiteral("No purchase history available."));
    }
}

void AccountTest::toolsPageLevelsAddressesAndSpeeds()
{
    signIn(QStringLiteral("free@tavrixvpn.test"), QStringLiteral("freepass1"));
    ToolsPage page;
    page.resize(420, 640);
    page.show();
    auto *level = child<QLabel>(&page, "lblrisk");
    auto *address = child<QLabel>(&page, "lblIP");
    QVERIFY(waitFor([&] { return level->text() == QLatin1String("Not Tested Yet"); }));
    auto *test = child<QPushButton>(&page, "btnTest");

    // Unprotected: the public address, looked up once for the page's life.
    QTest::mouseClick(test, Qt::LeftButton);
    QCOMPARE(level->text(), QStringLiteral("Risk"));
    QVERIFY(waitFor([&] { return address->text() == QLatin1String("127.0.0.1"); }));
    const QRegularExpression rate(QStringLiteral("^\\d+(\\.\\d)? [KMGTPE]?B$"));
    auto *download = child<QLabel>(&page, "lblDwnload");
    auto *upload = child<QLabel>(&page, "lblUpload");
    // A second press while the counters run stops them and starts a new test.
    QTest::mouseClick(test, Qt::LeftButton);
    QVERIFY(waitFor([&] { return rate.match(download->text()).hasMatch() && rate.match(upload->text()).hasMatch(); }));
    QVERIFY(waitFor([&] { return child<QLabel>(&page, "lblPing")->text().endsWith(QLatin1String(" ms")); }));
    QVERIFY(waitFor([&] { return !page.isTesting(); }, 15000));
    int lookups = 0;
    for (const QJsonValue &request : m_service.requests())
        lookups += request.toObject().value("path").toString() == QLatin1String("/api/ip");
    QCOMPARE(lookups, 1);
    QCOMPARE(page.cachedPublicIp(), QStringLiteral("127.0.0.1"));

    // Protected: the active server's address without its port.
    Config::instance()->setConnectionState(true);
    User::instance()->setBundles({IPBundle::fromJson(
        QJsonObject{{"ip_id", 77}, {"ip", "127.0.0.2:4443"}, {"type", 2}, {"country", "Testland"}})});
    Config::instance()->setActiveServer(77);
    QTest::mouseClick(test, Qt::LeftButton);
    QCOMPARE(level->text(), QStringLiteral("Secure"));
    QCOMPARE(address->text(), QStringLiteral("127.0.0.2"));
    QSignalSpy back(&page, &ToolsPage::clickBack);
    QTest::mouseClick(child<QPushButton>(&page, "btnBack"), Qt::LeftButton);
    QCOMPARE(back.count(), 1);
}

TAVRIX_TEST_MAIN_GUI(AccountTest)
#include "tst_account.moc"
