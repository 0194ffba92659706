#include <QFileOpenEvent>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

#include "app/stylesheet.h"
#include "app/urlschemeregistration.h"
#include "app/versiontracking.h"
#include "app/windowplacement.h"
#include "common/config.h"
#include "common/crypto.h"
#include "common/fileopeneventfilter.h"
#include "common/loginlink.h"
#include "testmain.h"

using namespace Tavrix;

namespace {

// Collects the messages logged while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        s_lines.clear();
        m_previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) { s_lines << text; });
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QString text() const { return s_lines.join(QLatin1Char('\n')); }
    bool contains(const QString &line) const { return s_lines.contains(line); }

private:
    static QStringList s_lines;
    QtMessageHandler m_previous;
};
QStringList LogCapture::s_lines;

QString readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class AppShellTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings().clear(); }

    void versionOlder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("older");
        QTest::newRow("patch") << "5.5.9"
                               << "5.6.0" << true;
        QTest::newRow("same") << "5.6.0"
                              << "5.6.0" << false;
        QTest::newRow("newer major, fewer digits") << "10.0.0"
                                                   << "5.6.0" << false;
        QTest::newRow("numeric, not text") << "3.1.10"
                                           << "3.1.6" << false;
        QTest::newRow("numeric, not text, reverse") << "3.1.6"
                                                    << "3.1.10" << true;
        QTest::newRow("missing part counts 0") << "5.6"
                                               << "5.6.1" << true;
        QTest::newRow("missing part equals 0") << "5.6"
                                               << "5.6.0" << false;
        QTest::newRow("non-numeric part counts 0") << "5.x.9"
                                                   << "5.1.0" << true;
        QTest::newRow("fourth part ignored") << "5.6.0.1"
                                             << "5.6.0.9" << false;
        QTest::newRow("empty is never older") << ""
                                              << "5.6.0" << false;
        QTest::newRow("nothing is older than empty") << "1.0.0"
                                                     << "" << false;
    }

    void versionOlder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, older);
        QCOMPARE(isVersionOlder(a, b), older);
    }

    void versionTracking_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("afterwards");
        QTest::addColumn<bool>("cacheCleared");
        QTest::addColumn<QString>("logged");
        QTest::newRow("first run") << ""
                                   << "5.6.0" << false << "First run detected, initializing version tracking";
        QTest::newRow("upgrade from 3.1.5") << "3.1.5"
                                            << "5.6.0" << true << "Migrating to 3.1.6: Clearing old cache...";
        QTest::newRow("upgrade from 3.1.10 (text order)") << "3.1.10"
                                                          << "5.6.0" << true << "Migration completed successfully";
        QTest::newRow("upgrade from 4.0.0") << "4.0.0"
                                            << "5.6.0" << false << "Version changed from 4.0.0 to 5.6.0";
        QTest::newRow("same version") << "5.6.0"
                                      << "5.6.0" << false << "Version unchanged: 5.6.0";
        QTest::newRow("downgrade from 10.0.0") << "10.0.0"
                                               << "10.0.0" << false << "Version unchanged: 5.6.0";
    }

    void versionTracking()
    {
        QFETCH(QString, stored);
        QFETCH(QString, afterwards);
        QFETCH(bool, cacheCleared);
        QFETCH(QString, logged);

        if (!stored.isEmpty())
            Config::setLastAppVersion(stored);
        Config::setConfigCache(QStringLiteral("proxy"), QString::fromLatin1(SettingsKey::ConfigSuffix),
                               QStringLiteral("{}"));
        Config::setConfigExist(true);

        LogCapture log;
        trackAppVersion(QStringLiteral("5.6.0"));

        QCOMPARE(Config::lastAppVersion(), afterwards);
        QVERIFY2(log.contains(logged), qPrintable(log.text()));
        QCOMPARE(Config::configCache(QStringLiteral("proxy"), QString::fromLatin1(SettingsKey::ConfigSuffix)).isEmpty(),
                 cacheCleared);
        QCOMPARE(Config::isConfigExist(), !cacheCleared);
    }

    void loginLink_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        const int valid = int(LoginLink::Kind::Valid);
        const int invalid = int(LoginLink::Kind::InvalidCredentials);
        const int foreign = int(LoginLink::Kind::NotALoginLink);
        QTest::newRow("valid, slash removed")
            << "tavrixvpn://login?authenticate=a.user@example.com&value=abc/defg" << valid << "a.user@example.com"
            << "abcdefg";
        QTest::newRow("seven characters with one slash")
            << "tavrixvpn://x?authenticate=b_c+d@mail.example.org&value=ab/cdef" << valid << "b_c+d@mail.example.org"
            << "abcdef";
        QTest::newRow("capital scheme") << "TAVRIXVPN://login?authenticate=a@b.co&value=secret1" << valid << "a@b.co"
                                        << "secret1";
        QTest::newRow("parameter order free")
            << "tavrixvpn://login?value=secret1&authenticate=a@b.co" << valid << "a@b.co"
            << "secret1";
        QTest::newRow("five characters left")
            << "tavrixvpn://login?authenticate=a@b.co&value=ab/c/de" << invalid << "a@b.co"
            << "abcde";
        QTest::newRow("not an e-mail address")
            << "tavrixvpn://login?authenticate=someone&value=secret1" << invalid << "someone"
            << "secret1";
        QTest::newRow("one-letter top-level domain")
            << "tavrixvpn://login?authenticate=a@b.c&value=secret1" << invalid << "a@b.c"
            << "secret1";
        QTest::newRow("password inside the user name")
            << "tavrixvpn://login?authenticate=a@b.co?value=secret1" << invalid << "a@b.co?value=secret1"
            << "secret1";
        QTest::newRow("no parameters") << "tavrixvpn://login" << invalid << ""
                                       << "";
        QTest::newRow("percent escapes stay")
            << "tavrixvpn://login?authenticate=a%40b.co&value=secret1" << invalid << "a%40b.co"
            << "secret1";
        QTest::newRow("other scheme") << "https://login?authenticate=a@b.co&value=secret1" << foreign << ""
                                      << "";
        QTest::newRow("empty") << "" << int(LoginLink::Kind::Empty) << ""
                               << "";
    }

    void loginLink()
    {
        QFETCH(QString, link);
        QFETCH(int, kind);
        QFETCH(QString, user);
        QFETCH(QString, password);

        LogCapture log;
        const LoginLink parsed = parseLoginLink(link);
        QCOMPARE(int(parsed.kind), kind);
        QCOMPARE(parsed.userName, user);
        QCOMPARE(parsed.password, password);

        // The password never reaches the log, in any form.
        const QString raw = loginLinkParameter(link, QStringLiteral("value"));
        if (!raw.isEmpty()) {
            QVERIFY2(!log.text().contains(raw), qPrintable(log.text()));
            QVERIFY(password.isEmpty() || !log.text().contains(password));
        }
        if (kind == int(LoginLink::Kind::Valid) || kind == int(LoginLink::Kind::InvalidCredentials)) {
            QVERIFY(log.contains(QStringLiteral("Credential validation:")));
            QVERIFY(log.contains(QStringLiteral("  Found parameter value = ***")) == !raw.isEmpty());
        }
    }

    void validLinkIsCached()
    {
        Config::setLastAppVersion(QStringLiteral("5.6.0"));
        const LoginLink link =
            parseLoginLink(QStringLiteral("tavrixvpn://login?authenticate=a.user@example.com&value=abc/defg"));
        cacheLoginLinkCredentials(link);

        QSettings store(QStringLiteral("Quennark"), QStringLiteral("TavrixVPN"));
        const QString storedUser = store.value(QStringLiteral("ServerHash")).toString();
        const QString storedPassword = store.value(QStringLiteral("ConnectionHash")).toString();
        QCOMPARE(storedUser,
                 encode(QStringLiteral("a.user@example.com"), QStringLiteral("4A7D2C91E05B38F6A1D4C7E2095B3F68")));
        QCOMPARE(storedPassword, encode(QStringLiteral("abcdefg"), QStringLiteral("4A7D2C91E05B38F6A1D4C7E2095B3F68")));
        QVERIFY(storedPassword != QStringLiteral("abcdefg"));
        QCOMPARE(store.value(QStringLiteral("AutoLogin")).toBool(), true);
        // Owner-only: the file holds the credentials.
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther;
        QCOMPARE(QFile::permissions(store.fileName()) & others, QFileDevice::Permissions());
    }

    void styleScaling_data()
    {
        QTest::addColumn<QByteArray>("sheet");
        QTest::addColumn<QByteArray>("scaled");
        QTest::newRow("16 with blank") << QByteArray("a { font-size: 16px; }") << QByteArray("a { font-size: 14px; }");
        QTest::newRow("16 without blank")
            << QByteArray("a { font-size:16px; }") << QByteArray("a { font-size: 14px; }");
        QTest::newRow("24 both ways") << QByteArray("a{font-size:24px}\nb{font-size: 24px}")
                                      << QByteArray("a{font-size: 22px}\nb{font-size: 22px}");
        QTest::newRow("18 gets its blank only")
            << QByteArray("a{font-size:18px;}") << QByteArray("a{font-size: 18px;}");
        QTest::newRow("160 is not 16") << QByteArray("a{font-size:160px;} b{font-size:16px;}")
                                       << QByteArray("a{font-size: 160px;} b{font-size: 14px;}");
        QTest::newRow("weights become 500") << QByteArray("a{font-weight: 700;} b{font-weight:300;}")
                                            << QByteArray("a{font-weight: 500;} b{font-weight: 500;}");
        QTest::newRow("weight 50 leaves 500 alone") << QByteArray("a{font-weight:50;} b{font-weight: 500;}")
                                                    << QByteArray("a{font-weight: 500;} b{font-weight: 500;}");
        QTest::newRow("named weight untouched")
            << QByteArray("a{font-weight: bold;}") << QByteArray("a{font-weight: bold;}");
        QTest::newRow("size and weight, non-ASCII comment")
            << QByteArray("/* Überschrift */ h{font-size:24px;font-weight:600;}")
            << QByteArray("/* Überschrift */ h{font-size: 22px;font-weight: 500;}");
    }

    void styleScaling()
    {
        QFETCH(QByteArray, sheet);
        QFETCH(QByteArray, scaled);
        QCOMPARE(scaleStyleSheetFonts(sheet), scaled);
    }

    void windowPlacement_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("window");
        QTest::newRow("1920x1080") << QRect(0, 0, 1920, 1080) << QRect(403, 173, 1113, 734);
        QTest::newRow("1366x768") << QRect(0, 0, 1366, 768) << QRect(287, 123, 792, 522);
        QTest::newRow("1600x900, whole products") << QRect(0, 0, 1600, 900) << QRect(336, 144, 928, 612);
        // Placement ignores the screen's origin.
        QTest::newRow("offset screen") << QRect(1920, 100, 1920, 1080) << QRect(403, 173, 1113, 734);
    }

    void windowPlacement()
    {
        QFETCH(QRect, screen);
        QFETCH(QRect, window);
        const WindowPlacement p = computeWindowPlacement(screen);
        QCOMPARE(QRect(p.x, p.y, p.width, p.height), window);
    }

    void fileOpenEvents()
    {
        FileOpenEventFilter filter;
        QSignalSpy urls(&filter, &FileOpenEventFilter::urlOpened);
        QSignalSpy files(&filter, &FileOpenEventFilter::fileOpened);
        QObject target;

        QFileOpenEvent urlEvent(QUrl(QStringLiteral("tavrixvpn://login?authenticate=a@b.co")));
        QVERIFY(!filter.eventFilter(&target, &urlEvent));
        QEvent other(QEvent::User);
        QVERIFY(!filter.eventFilter(&target, &other));
        QCOMPARE(urls.count(), 1);
        QCOMPARE(urls.first().first().toString(), QStringLiteral("tavrixvpn://login?authenticate=a@b.co"));
        QCOMPARE(filter.lastUrl(), QStringLiteral("tavrixvpn://login?authenticate=a@b.co"));

        // A document comes with its file address, which takes precedence over the bare name.
        QFileOpenEvent fileEvent(QStringLiteral("/tmp/some.conf"));
        QVERIFY(!filter.eventFilter(&target, &fileEvent));
        QCOMPARE(urls.count(), 2);
        QCOMPARE(filter.lastUrl(), QStringLiteral("file:///tmp/some.conf"));
        QCOMPARE(files.count(), 0);
    }

    void urlSchemeRegistration()
    {
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        const QString mimeapps = config + QStringLiteral("/mimeapps.list");
        const QString entry = data + QStringLiteral("/applications/tavrixvpn-url-handler.desktop");
        QFile::remove(entry);
        writeFile(mimeapps, "[Added Associations]\ntext/plain=editor.desktop;\n\n"
                            "[Default Applications]\nx-scheme-handler/tavrixvpn=old.desktop\n"
                            "x-scheme-handler/https=browser.desktop\n");

        const QString exe = QStringLiteral("/opt/Tavrix VPN/bin/tavrix$vpn");
        LogCapture log;
        registerUrlScheme(exe);
        QVERIFY(log.contains(QStringLiteral("URL scheme registered successfully")));
        QVERIFY(Config::urlSchemeRegistered());
        QCOMPARE(Config::registeredExecutablePath(), exe);

        const QString desktop = readFile(entry);
        QVERIFY2(desktop.contains(QStringLiteral("\nExec=\"/opt/Tavrix VPN/bin/tavrix\\\\$vpn\" %u\n")),
                 qPrintable(desktop));
        QVERIFY(desktop.contains(QStringLiteral("\nMimeType=x-scheme-handler/tavrixvpn;\n")));
        QCOMPARE(readFile(mimeapps),
                 QStringLiteral("[Added Associations]\ntext/plain=editor.desktop;\n\n"
                                "[Default Applications]\nx-scheme-handler/tavrixvpn=tavrixvpn-url-handler.desktop\n"
                                "x-scheme-handler/https=browser.desktop\n"));
        // Nothing named after a registry path in the working folder.
        QVERIFY(QDir::current().entryList({QStringLiteral("*HKEY*")}).isEmpty());

        // Same path again: left alone, even when the entry was removed meanwhile.
        QFile::remove(entry);
        registerUrlScheme(exe);
        QVERIFY(!QFile::exists(entry));
        // The program moved: registered again.
        registerUrlScheme(QStringLiteral("/usr/bin/tavrixvpn"));
        QVERIFY(readFile(entry).contains(QStringLiteral("Exec=\"/usr/bin/tavrixvpn\" %u")));
    }

    void urlSchemeWithoutMimeapps()
    {
        const QString mimeapps =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/mimeapps.list");
        writeFile(mimeapps, "[Added Associations]\ntext/plain=editor.desktop;\n");
        registerUrlScheme(QStringLiteral("/usr/bin/tavrixvpn"));
        QCOMPARE(readFile(mimeapps), QStringLiteral("[Added Associations]\ntext/plain=editor.desktop;\n\n"
                                                    "[Default Applications]\n"
                                                    "x-scheme-handler/tavrixvpn=tavrixvpn-url-handler.desktop\n"));
    }
};

TAVRIX_TEST_MAIN_CORE(AppShellTest)
#include "tst_appshell.moc"
