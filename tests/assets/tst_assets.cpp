// The resource collection: every picture the client names is there and decodes, the fonts
// register, every country flag exists, the calling-code map parses and covers the countries
// a time zone can name, and the style sheet parses.

#include <QFile>
#include <QFontDatabase>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QLineEdit>
#include <QLocale>
#include <QMovie>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <QTreeWidget>
#include <QtTest>

#include "common/countryflags.h"
#include "testmain_gui.h"

namespace {

QStringList capturedWarnings;

void captureWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        capturedWarnings << message;
}

QString sourceFile(const QString &relative)
{
    return qEnvironmentVariable("TAVRIX_SOURCE_DIR") + QLatin1Char('/') + relative;
}

} // namespace

class TestAssets : public QObject
{
    Q_OBJECT

private slots:
    void pictureLoads_data();
    void pictureLoads();
    void animationsPlay_data();
    void animationsPlay();
    void fontsLoad();
    void everyFlagHasAPicture();
    void iconPathsLoad();
    void callingCodeMapParses();
    void callingCodeMapCoversTimeZoneCountries();
    void styleSheetParses();
};

void TestAssets::pictureLoads_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("minimumSide");

    const QStringList icons = {
        "0.png",
        "1.png",
        "120.png",
        "200.png",
        "About us.png",
        "Ellipse.png",
        "FreeUsercrown.png",
        "Google.png",
        "Private-Browser.png",
        "Split Tunnel.png",
        "Star.png",
        "Transaction.svg",
        "ad_blocker_server.png",
        "android.png",
        "app store.png",
        "appel.png",
        "arrow.png",
        "auto connect.png",
        "back.png",
        "connected.png",
        "copy.png",
        "copy2.png",
        "cross.png",
        "darkWeb.png",
        "device.png",
        "disconnected.png",
        "facebook.png",
        "favourit-server.png",
        "favourit.png",
        "gamming-server.png",
        "gamming_white.png",
        "general.png",
        "greenDownload.png",
        "greenPing.png",
        "greenUpload.png",
        "high-speed-server.png",
        "huawei.png",
        "icon_hide.png",
        "icon_profile.png",
        "ip-icon.png",
        "ip.png",
        "key.png",
        "kill switch.png",
        "linkden.png",
        "linux.png",
        "location icon.png",
        "lock.png",
        "log-out.png",
        "login-logo.png",
        "logo.png",
        "loyal.png",
        "loyal_server.png",
        "mail.png",
        "menu-hot-dog.png",
        "messenger.png",
        "my account card.png",
        "my account free.png",
        "my account premium.png",
        "network protection.png",
        "not-protected.png",
        "protected.png",
        "protocol.png",
        "purchase_for_friend.png",
        "rate_us.png",
        "redeem voucher.png",
        "refer.png",
        "referWhite.png",
        "search.png",
        "setting.png",
        "share icon.png",
        "show.png",
        "splitTunnel/black-cross.png",
        "splitTunnel/black_add.png",
        "splitTunnel/white_add.png",
        "splitTunnel/white_cross.png",
        "streamming-server.png",
        "streamming_white.png",
        "support.png",
        "tavrix-more.png",
        "tavrix-vpn-logo.png",
        "tavrix-white-logo.png",
        "test.png",
        "toolsDownload.png",
        "toolsping.png",
        "toolsupload.png",
        "tw.png",
        "v2rayLogo.jpeg",
        "whatsapp.png",
        "windows.png",
    };
    for (const QString &name : icons)
        QTest::newRow(qPrintable(name)) << QStringLiteral(":/assets/") + name << 12;

    // Pictures that are stretched over a page, a card or a popup.
    const QStringList large = {
        "background.png",    "white_background.png", "loginSideImage.png", "CongratulationsPopup.png",
        "freeUser_Back.png", "loyal_background.png", "PremiumBack.png",
    };
    for (const QString &name : large)
        QTest::newRow(qPrintable(name)) << QStringLiteral(":/assets/") + name << 160;

    for (const char *alias : {":/flags/flags/flag_antarctica.png", ":/img/app crash.png", ":/img/no notifications.png"})
        QTest::newRow(alias) << QString::fromLatin1(alias) << 12;
}

void TestAssets::pictureLoads()
{
    QFETCH(QString, path);
    QFETCH(int, minimumSide);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    QImageReader reader(path);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(path + QLatin1String(": ") + reader.errorString()));
    QVERIFY2(qMin(image.width(), image.height()) >= minimumSide, qPrintable(path));
    // A picture that came out blank (a broken source renders as nothing) is a fault too.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() < 2; y += qMax(1, image.height() / 16))
        for (int x = 0; x < image.width() && colours.size() < 2; ++x)
            colours.insert(image.pixel(x, y));
    QVERIFY2(colours.size() >= 2, qPrintable(path + QLatin1String(" is a single colour")));
}

void TestAssets::animationsPlay_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("side");
    QTest::newRow("spinner") << ":/assets/Spinner-1s-50px.gif" << 50;
    QTest::newRow("busy") << ":/assets/busy.gif" << 64;
}

void TestAssets::animationsPlay()
{
    QFETCH(QString, path);
    QFETCH(int, side);
    QMovie movie(path);
    QVERIFY2(movie.isValid(), qPrintable(path));
    QVERIFY(movie.frameCount() >= 8);
    QVERIFY(movie.loopCount() < 0 || movie.loopCount() == 0); // forever
    QVERIFY(movie.jumpToFrame(0));
    QCOMPARE(movie.currentImage().size(), QSize(side, side));
    int total = 0;
    for (int i = 0; i < movie.frameCount(); ++i) {
        QVERIFY(movie.jumpToFrame(i));
        total += movie.nextFrameDelay();
    }
    // One turn takes about a second.
    QVERIFY2(total >= 700 && total <= 1100, qPrintable(QString::number(total)));
}

void TestAssets::fontsLoad()
{
    const QStringList styles = {
        "Black",        "BlackItalic",      "Bold",     "BoldItalic",     "ExtraBold",   "ExtraBoldItalic",
        "ExtraLight",   "ExtraLightItalic", "Italic",   "Light",          "LightItalic", "Medium",
        "MediumItalic", "Regular",          "SemiBold", "SemiBoldItalic", "Thin",        "ThinItalic",
    };
    for (const QString &style : styles) {
        const QString path = QStringLiteral(":/assets/fonts/Montserrat-%1.ttf").arg(style);
        const int id = QFontDatabase::addApplicationFont(path);
        QVERIFY2(id >= 0, qPrintable(path));
        QVERIFY2(QFontDatabase::applicationFontFamilies(id).contains(QStringLiteral("Montserrat")), qPrintable(path));
    }
    // Eighteen distinct cuts, not one file under eighteen names.
    QCOMPARE(QFontDatabase().styles(QStringLiteral("Montserrat")).size(), styles.size());
    QVERIFY(QFontDatabase().italic(QStringLiteral("Montserrat"), QStringLiteral("Bold Italic")));
    QVERIFY(QFile::exists(QStringLiteral(":/assets/fonts/OFL.txt")));
}

void TestAssets::everyFlagHasAPicture()
{
    // The build reads its own copy of the table; both must name the same pictures.
    QFile file(sourceFile(QStringLiteral("assets/flags/countries.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QHash<QString, QString> buildTable; // name -> alpha-2 of the source picture
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(fields.size(), 3);
        QVERIFY2(!buildTable.contains(fields[2]), qPrintable(line));
        buildTable.insert(QStringLiteral("flag_") + fields[2], fields[1]);
    }

    QSet<QString> names;
    for (const Tavrix::CountryFlag &flag : Tavrix::countryFlags()) {
        const QString name = QString::fromLatin1(flag.name);
        QCOMPARE(Tavrix::flagName(flag.code), name);
        names.insert(name);
        QVERIFY2(buildTable.contains(name), qPrintable(name));
        QCOMPARE(buildTable.value(name), QString::fromLatin1(flag.picture).toLower());
        const QString path = QStringLiteral(":/assets/flags/%1.png").arg(name);
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QVERIFY(image.width() >= 48);
    }
    QCOMPARE(Tavrix::countryFlags().size(), 221);
    QCOMPARE(names.size(), 220); // Mayotte borrows the picture of Martinique
    QCOMPARE(buildTable.size(), names.size());
}

void TestAssets::iconPathsLoad()
{
    // Server rows name flags without ".png" and rely on the reader trying the suffixes.
    QVERIFY(!QImage(Tavrix::iconPath(124)).isNull());
    QVERIFY(!QImage(Tavrix::iconPath(175)).isNull());
    QVERIFY(QImage(Tavrix::iconPath(999)).isNull());
    for (int category = 1000; category <= 1006; ++category)
        QVERIFY2(!QImage(Tavrix::iconPath(category)).isNull(), qPrintable(Tavrix::iconPath(category)));
    QVERIFY(!QImage(Tavrix::iconPath(-1)).isNull());
}

void TestAssets::callingCodeMapParses()
{
    for (const char *path : {":/misc/country_calling_code_map.txt", ":/assets/country_calling_code_map.txt"}) {
        QFile file(QString::fromLatin1(path));
        QVERIFY2(file.open(QIODevice::ReadOnly | QIODevice::Text), path);
        QHash<QString, int> map;
        const QRegularExpression shape(QStringLiteral("^\"[^\",]+\", [0-9]+$"));
        int lines = 0;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).chopped(1);
            ++lines;
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line));
            // The lookup's own reading: split at ",", strip quotes, lower case; integer value.
            const QStringList parts = line.split(QLatin1Char(','));
            const QString key = QString(parts[0]).remove(QLatin1Char('"')).toLower();
            bool ok = false;
            const int value = parts[1].trimmed().toInt(&ok);
            QVERIFY2(ok && value > 0 && value < 1000, qPrintable(line));
            QVERIFY2(!map.contains(key), qPrintable(line));
            map.insert(key, value);
        }
        QVERIFY(lines > 240);
        QCOMPARE(map.value("afghanistan"), 93);
        QCOMPARE(map.value("united states"), 1);
        QCOMPARE(map.value("united kingdom"), 44);
        QCOMPARE(map.value("bangladesh"), 880);
        QCOMPARE(map.value("germany"), 49);
        QCOMPARE(map.value("india"), 91);
        QCOMPARE(map.value("russia"), 7);
        QCOMPARE(map.value("south korea"), 82);
        QCOMPARE(map.value("north korea"), 850);
        QCOMPARE(map.value("hong kong"), 852);
    }
}

void TestAssets::callingCodeMapCoversTimeZoneCountries()
{
    QFile file(QStringLiteral(":/misc/country_calling_code_map.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QSet<QString> keys;
    while (!file.atEnd())
        keys.insert(
            QString::fromUtf8(file.readLine()).section(QLatin1Char(','), 0, 0).remove(QLatin1Char('"')).toLower());
    // The header value comes from the English name Qt gives the time zone's country.
    QStringList missing;
    for (const QByteArray &id : QTimeZone::availableTimeZoneIds()) {
        const QLocale::Country country = QTimeZone(id).country();
        if (country == QLocale::AnyCountry)
            continue;
        const QString name = QLocale::countryToString(country).toLower();
        if (!keys.contains(name) && !missing.contains(name))
            missing << name;
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1String(", "))));
}

void TestAssets::styleSheetParses()
{
    QFile file(QStringLiteral(":/assets/style.qss"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString sheet = QString::fromUtf8(file.readAll());
    QVERIFY(sheet.contains(QLatin1String("#BF1E2E")));
    // Start-up rewrites these; the sheet must use them for the rewrite to matter.
    QVERIFY(sheet.contains(QRegularExpression(QStringLiteral("font-size: ?16px"))));
    QVERIFY(sheet.contains(QRegularExpression(QStringLiteral("font-size: ?24px"))));
    QVERIFY(sheet.contains(QRegularExpression(QStringLiteral("font-weight: ?\\d+;"))));

    capturedWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureWarnings);
    qApp->setStyleSheet(sheet);
    {
        QWidget page;
        auto *button = new QPushButton(QStringLiteral("Sign in"), &page);
        button->setObjectName(QStringLiteral("btnLogin"));
        new QLineEdit(&page);
        new QTreeWidget(&page);
        page.ensurePolished();
        for (QWidget *child : page.findChildren<QWidget *>())
            child->ensurePolished();
        QCOMPARE(button->palette().color(QPalette::Button).name(), QStringLiteral("#bf1e2e"));
    }
    qApp->setStyleSheet(QString());
    qInstallMessageHandler(previous);
    QVERIFY2(capturedWarnings.isEmpty(), qPrintable(capturedWarnings.join(QLatin1Char('\n'))));
}

TAVRIX_TEST_MAIN_GUI(TestAssets)
#include "tst_assets.moc"
