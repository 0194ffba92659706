#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

#include "app/startup.h"
#include "common/crypto.h"
#include "testmain_gui.h"

namespace {

const QString localKey = QStringLiteral("4A7D2C91E05B38F6A1D4C7E2095B3F68");
// A self-signed certificate standing for the development service's.
const QByteArray serviceCertificate = "-----BEGIN CERTIFICATE-----\n"
                                      "MIIBgDCCASWgAwIBAgIUSIW94SAwjYo1bxEEuruu7Jd8OLUwCgYIKoZIzj0EAwIw\n"
                                      "FDESMBAGA1UEAwwJMTI3LjAuMC4xMCAXDTI2MTIwOTA5NDQ0MFoYDzIxMjYxMTE1\n"
                                      "MDk0NDQwWjAUMRIwEAYDVQQDDAkxMjcuMC4wLjEwWTATBgcqhkjOPQIBBggqhkjO\n"
                                      "PQMBBwNCAAS+mr0502TcoqLB/y6Oe5XOusQqo2iAuS7vLx36ac7ihiuPwUcT+5xB\n"
                                      "AWdO09l3e7mLI4S0aEpEqgLPLDAQd3M3o1MwUTAdBgNVHQ4EFgQUrWM7Ih+1vqjP\n"
                                      "9FyuOUQgh4868J0wHwYDVR0jBBgwFoAUrWM7Ih+1vqjP9FyuOUQgh4868J0wDwYD\n"
                                      "VR0TAQH/BAUwAwEB/zAKBggqhkjOPQQDAgNJADBGAiEA/tgFbkS+FXgX7HWx5sS+\n"
                                      "kuQFqHOr/hxkKYsTngd0b/wCIQCR6BPR0qpEyl42iKx8kkve52CoqaR/T7hc0Bb/\n"
                                      "SsAQAA==\n"
                                      "-----END CERTIFICATE-----\n";
const QString loginLink = QStringLiteral("tavrixvpn://login?authenticate=a.user@example.com&value=abc/defg");

QString readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QByteArray runOutput(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(5000);
    return process.readAllStandardOutput();
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

} // namespace

// Runs the real program: a private copy of it (its own single-instance identity and log file)
// with its own XDG folders, so that nothing is shared with other tests or the user.
class StartupTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_exe;
    QProcessEnvironment m_env;

    QString logPath() const { return m_root.filePath(QStringLiteral("bin/logger.txt")); }
    QString log() const { return readFile(logPath()); }

    void start(QProcess &process, const QStringList &arguments)
    {
        process.setProcessEnvironment(m_env);
        process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        process.setProgram(m_exe);
        process.setArguments(arguments);
        process.start();
        QVERIFY(process.waitForStarted(5000));
    }

    // Log lines count from offset, so that each check sees only the current run.
    bool waitForLine(const QString &line, int offset = 0)
    {
        return waitFor([&] { return log().indexOf(line, offset) >= 0; }, 15000);
    }

private slots:
    void initTestCase()
    {
        const QString built = qEnvironmentVariable("TAVRIX_BIN_DIR") + QStringLiteral("/tavrixvpn");
        if (!QFile::exists(built))
            QSKIP("the program is not built");
        QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("bin"))));
        m_exe = m_root.filePath(QStringLiteral("bin/tavrixvpn"));
        QVERIFY(QFile::copy(built, m_exe));

        m_env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            const QString dir = m_root.filePath(QString::fromLatin1(name).toLower());
            QVERIFY(QDir().mkpath(dir));
            m_env.insert(QString::fromLatin1(name), dir);
        }
        QFile::setPermissions(m_env.value(QStringLiteral("XDG_RUNTIME_DIR")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    void secondStartsForwardLinksAndStayOutOfTheLog()
    {
        QProcess first;
        start(first, {loginLink});
        QVERIFY2(waitForLine(QStringLiteral("[DEBUG] Application initialized successfully")), qPrintable(log()));

        QProcess second;
        const int secondFrom = log().size();
        start(second, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(waitForLine(QStringLiteral("[DEBUG]   Window brought to front"), secondFrom));
        QCOMPARE(first.state(), QProcess::Running);

        // A link opened while the program runs reaches the running instance.
        QProcess third;
        const int thirdFrom = log().size();
        start(third, {QStringLiteral("tavrixvpn://login?authenticate=b.user@example.com&value=other/pass")});
        QVERIFY(third.waitForFinished(10000));
        QCOMPARE(third.exitCode(), 0);
        QVERIFY(waitForLine(QStringLiteral("[DEBUG] Login link received from another instance"), thirdFrom));
        // The later starts write nothing into the running instance's part of the log.
        const QString running = log();
        QVERIFY(!running.contains(QStringLiteral("Session Ended: ")));
        QCOMPARE(running.count(QStringLiteral("New Session Started: ")), 1);
        QVERIFY(!running.contains(QStringLiteral("Application is already running")));
        QVERIFY(!running.contains(QStringLiteral("other/pass")));

        // A polite stop still saves and closes the log.
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitCode(), 0);

        const QString text = log();
        const QStringList expected = {
            "[DEBUG] Starting Tavrix VPN 5.6.0",
            "[DEBUG] \n--- Configuration Management ---",
            "[DEBUG] First run detected, initializing version tracking",
            "[DEBUG] Registering URL scheme in Windows registry...",
            "[DEBUG] URL scheme registered successfully",
            "[DEBUG] Processing URL scheme input: tavrixvpn://login?authenticate=a.user@example.com&value=***",
            "[DEBUG]   Found parameter authenticate = a.user@example.com",
            "[DEBUG]   Found parameter value = ***",
            "[DEBUG]   Username valid: true",
            "[DEBUG]   Password valid: true",
            "[DEBUG] Credentials cached successfully",
            "[DEBUG] Window size: 464 x 408",
            "[DEBUG] Received message from another instance",
            "[DEBUG] Application shutting down...",
            "[DEBUG] Configuration saved",
            "[DEBUG] Exit code: 0",
        };
        for (const QString &line : expected)
            QVERIFY2(text.contains(line), qPrintable(line));
        QVERIFY(!text.contains(QStringLiteral("abcdefg")));
        QVERIFY(!text.contains(QStringLiteral("abc/defg")));
        QCOMPARE(text.count(QStringLiteral("New Session Started: ")), 1);
        QCOMPARE(text.count(QStringLiteral("Session Ended: ")), 1);
        // Every message line has the file log's shape.
        const QRegularExpression shape(
            QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[[A-Z]+\\] "));
        for (const QString &line : text.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1Char('[')))
                QVERIFY2(shape.match(line).hasMatch(), qPrintable(line));
        }

        QSettings store(m_env.value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/Quennark/TavrixVPN.conf"),
                        QSettings::IniFormat);
        QCOMPARE(store.value(QStringLiteral("ServerHash")).toString(),
                 Tavrix::encode(QStringLiteral("a.user@example.com"), localKey));
        QCOMPARE(store.value(QStringLiteral("ConnectionHash")).toString(),
                 Tavrix::encode(QStringLiteral("abcdefg"), localKey));
        QCOMPARE(store.value(QStringLiteral("AutoLogin")).toBool(), true);
        QCOMPARE(store.value(QStringLiteral("app/version")).toString(), QStringLiteral("5.6.0"));
        QCOMPARE(store.value(QStringLiteral("Application/lastAppVersion")).toString(), QStringLiteral("5.6.0"));
        QCOMPARE(store.value(QStringLiteral("Application/URLSchemeRegistered")).toBool(), true);
        QCOMPARE(store.value(QStringLiteral("Application/RegisteredExecutablePath")).toString(), m_exe);
        QVERIFY(readFile(m_env.value(QStringLiteral("XDG_DATA_HOME")) +
                         QStringLiteral("/applications/tavrixvpn-url-handler.desktop"))
                    .contains(QStringLiteral("Exec=\"%1\" %u").arg(m_exe)));
    }

    void everyProgramAnswersHelp_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("helpMentions");
        QTest::newRow("client") << "tavrixvpn"
                                << "tavrixvpn://login";
        QTest::newRow("development service") << "tavrix-devservice"
                                             << "/__control/set";
        QTest::newRow("journey") << "tavrix-journey"
                                 << "--screen WxH";
        QTest::newRow("demo lab") << "tavrix-demo-lab"
                                  << "UNAVAILABLE";
        QTest::newRow("session client") << "tavrix-session-client"
                                        << "--echo-server";
    }

    // Usage on --help (0) and on an unknown option (2), without a display and without
    // starting anything: no files, no namespaces, no servers.
    void everyProgramAnswersHelp()
    {
        QFETCH(QString, program);
        QFETCH(QString, helpMentions);
        const QString path = qEnvironmentVariable("TAVRIX_BIN_DIR") + QLatin1Char('/') + program;
        if (!QFile::exists(path))
            QSKIP("not built");
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
            env.insert(QString::fromLatin1(name), home.path());
        const QByteArray namespacesBefore =
            runOutput(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("list")});

        for (const QString &option : {QStringLiteral("--help"), QStringLiteral("--no-such-option")}) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.setWorkingDirectory(home.path());
            process.start(path, {option});
            QVERIFY(process.waitForFinished(10000));
            const bool help = option == QLatin1String("--help");
            QCOMPARE(process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(process.exitCode(), help ? 0 : 2);
            const QString text =
                QString::fromUtf8(help ? process.readAllStandardOutput() : process.readAllStandardError());
            QVERIFY2(text.contains(QStringLiteral("Usage"), Qt::CaseInsensitive), qPrintable(text));
            if (help)
                QVERIFY2(text.contains(helpMentions), qPrintable(text));
        }
        QVERIFY(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
        QCOMPARE(runOutput(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("list")}), namespacesBefore);
    }

    void restartAfterCrash()
    {
        QProcess crashed;
        int from = log().size();
        start(crashed, {});
        QVERIFY(waitForLine(QStringLiteral("[DEBUG] Application initialized successfully"), from));
        crashed.kill();
        QVERIFY(crashed.waitForFinished(5000));

        // The lock of a dead instance must not turn the next start into a "second" one.
        QProcess next;
        from = log().size();
        start(next, {});
        QVERIFY2(waitForLine(QStringLiteral("[DEBUG] Application initialized successfully"), from),
                 qPrintable(log().mid(from)));
        QVERIFY(log().indexOf(QStringLiteral("Version unchanged: 5.6.0"), from) > 0);
        QVERIFY(log().indexOf(QStringLiteral("URL scheme already registered"), from) > 0);
        next.terminate();
        QVERIFY(next.waitForFinished(10000));
        QCOMPARE(next.exitCode(), 0);
    }

    // Pages make their own network managers later on; the development service's CA must be
    // trusted before any of them exists, right after the settings are loaded.
    void trustsTheServiceCertificateAtStart()
    {
        const QString ca = m_root.filePath(QStringLiteral("service-ca.pem"));
        QFile pem(ca);
        QVERIFY(pem.open(QIODevice::WriteOnly));
        pem.write(serviceCertificate);
        pem.close();

        const QProcessEnvironment plain = m_env;
        m_env.insert(QStringLiteral("TAVRIXVPN_SERVICE_URL"), QStringLiteral("https://127.0.0.1:9"));
        m_env.insert(QStringLiteral("TAVRIXVPN_SERVICE_CA"), ca);
        QProcess process;
        const int from = log().size();
        start(process, {});
        m_env = plain;
        const bool started = waitForLine(QStringLiteral("[DEBUG] Application initialized successfully"), from);
        // Only start-up matters here; the unreachable service is not waited for.
        process.kill();
        process.waitForFinished(5000);
        QVERIFY2(started, qPrintable(log().mid(from)));

        const QString text = log().mid(from);
        const int loaded = text.indexOf(QStringLiteral("--- Configuration Management ---"));
        const int trusted = text.indexOf(QStringLiteral("Trusting the service certificate"));
        const int registration = text.indexOf(QStringLiteral("Checking URL scheme registration..."));
        QVERIFY2(loaded >= 0 && trusted > loaded && trusted < registration, qPrintable(text));
    }

    void wakeUpRestoresAMinimisedWindow()
    {
        QWidget window;
        window.showMinimized();
        QVERIFY(window.isMinimized());
        Tavrix::wakeUpWindow(&window);
        QVERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());

        QWidget hidden;
        Tavrix::wakeUpWindow(&hidden);
        QVERIFY(hidden.isVisible());
    }
};

TAVRIX_TEST_MAIN_GUI(StartupTest)
#include "tst_startup.moc"
