// Benchmark (not a test): how long the real program takes to come up, under Xvfb, with a
// fresh profile each time, against the development service.
//   - launch to "Application initialized successfully" in its log
//   - launch to its window being viewable on the X server
//   - launch with a login link to "Auto-login successful!" (configuration fetched, signed in)
// Log times are read from the log's own time stamps, so the polling here adds nothing to them.
// Run: bench_startup [--reps N] [--quick] [--screen WxH]

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

#include "benchresult.h"
#include "devservice.h"

namespace {

const QString initializedLine = QStringLiteral("Application initialized successfully");
const QString signedInLine = QStringLiteral("Auto-login successful!");
const QString failedSignInLines[] = {QStringLiteral("Auto-login failed"),
                                     QStringLiteral("Auto-login: Configuration update failed")};
constexpr int runTimeoutMs = 30000;

// A private X server; -displayfd picks a free display and tells its number.
class Xvfb
{
public:
    ~Xvfb()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(2000);
            }
        }
    }

    bool start(const QString &screen)
    {
        m_process.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                         QStringLiteral("0"), screen + QStringLiteral("x24"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp")});
        QElapsedTimer clock;
        clock.start();
        while (!m_process.canReadLine() && clock.elapsed() < 10000 && m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(200);
        const QByteArray number = m_process.readLine().trimmed();
        if (number.isEmpty())
            return false;
        m_display = QStringLiteral(":") + QString::fromLatin1(number);
        return true;
    }

    QString display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};

struct Run
{
    double initializedMs = -1;
    double windowMs = -1;
    double signedInMs = -1;
    QString failure;
};

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Milliseconds from launchMs (since the epoch) to the time stamp of the first log line holding
// text; -1 while there is none.
double loggedAt(const QString &log, const QString &text, qint64 launchMs)
{
    const int at = log.indexOf(text);
    if (at < 0)
        return -1;
    const int lineStart = log.lastIndexOf(QLatin1Char('\n'), at) + 1;
    static const QRegularExpression stamp(
        QStringLiteral("^\\[(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})\\]"));
    const QRegularExpressionMatch match = stamp.match(log.mid(lineStart, 30));
    if (!match.hasMatch())
        return -1;
    const QDateTime when = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    return when.isValid() ? double(when.toMSecsSinceEpoch() - launchMs) : -1;
}

bool windowViewable(const QString &display)
{
    QProcess probe;
    probe.start(QStringLiteral("xwininfo"),
                {QStringLiteral("-display"), display, QStringLiteral("-name"), QStringLiteral("TavrixVPN")});
    if (!probe.waitForFinished(2000)) {
        probe.kill();
        probe.waitForFinished(1000);
        return false;
    }
    return probe.readAllStandardOutput().contains("IsViewable");
}

// One start of the program with a fresh profile; with a link, waits for the sign-in too.
Run startOnce(const QString &program, QProcessEnvironment env, const QString &display, const QString &link)
{
    Run run;
    QTemporaryDir profile;
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString dir = profile.filePath(QString::fromLatin1(name).toLower());
        QDir().mkpath(dir);
        env.insert(QString::fromLatin1(name), dir);
    }
    QFile::setPermissions(env.value(QStringLiteral("XDG_RUNTIME_DIR")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const QString logPath = QFileInfo(program).dir().filePath(QStringLiteral("logger.txt"));
    QFile::remove(logPath);

    QProcess client;
    client.setProcessEnvironment(env);
    client.setProgram(program);
    client.setArguments(link.isEmpty() ? QStringList() : QStringList{link});
    client.setStandardOutputFile(QProcess::nullDevice());
    client.setStandardErrorFile(QProcess::nullDevice());
    const qint64 launchMs = QDateTime::currentMSecsSinceEpoch();
    QElapsedTimer clock;
    clock.start();
    client.start();
    if (!client.waitForStarted(5000)) {
        run.failure = QStringLiteral("the program did not start");
        return run;
    }
    for (;;) {
        if (run.windowMs < 0 && link.isEmpty() && windowViewable(display))
            run.windowMs = double(clock.elapsed());
        const QString log = readFile(logPath);
        run.initializedMs = loggedAt(log, initializedLine, launchMs);
        if (!link.isEmpty()) {
            run.signedInMs = loggedAt(log, signedInLine, launchMs);
            for (const QString &failed : failedSignInLines) {
                if (log.contains(failed))
                    run.failure = QStringLiteral("sign-in failed");
            }
        }
        const bool done = run.initializedMs >= 0 && (link.isEmpty() ? run.windowMs >= 0 : run.signedInMs >= 0);
        if (done || !run.failure.isEmpty())
            break;
        if (client.state() == QProcess::NotRunning) {
            run.failure = QStringLiteral("the program ended (exit code %1)").arg(client.exitCode());
            break;
        }
        if (clock.elapsed() > runTimeoutMs) {
            run.failure = QStringLiteral("not up within %1 s").arg(runTimeoutMs / 1000);
            break;
        }
        QThread::msleep(10);
    }
    if (!run.failure.isEmpty())
        std::fprintf(stderr, "%s; log:\n%s\n", qPrintable(run.failure), qPrintable(readFile(logPath).right(3000)));
    client.terminate();
    if (!client.waitForFinished(10000)) {
        client.kill();
        client.waitForFinished(2000);
    }
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Start-up and sign-in by login link of the program, under Xvfb"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("reps"), QStringLiteral("Starts of each kind (default 7)."), QStringLiteral("n"),
                      QStringLiteral("7")});
    parser.addOption({QStringLiteral("quick"), QStringLiteral("3 starts of each kind, for bench/run-all.")});
    parser.addOption({QStringLiteral("screen"), QStringLiteral("Xvfb screen size (default 1280x1024)."),
                      QStringLiteral("WxH"), QStringLiteral("1280x1024")});
    parser.process(app);
    const int reps = parser.isSet(QStringLiteral("quick")) ? 3 : qMax(1, parser.value(QStringLiteral("reps")).toInt());

    const QString built = QCoreApplication::applicationDirPath() + QStringLiteral("/tavrixvpn");
    if (!QFile::exists(built)) {
        std::fprintf(stderr, "bench_startup: %s is not built\n", qPrintable(built));
        return 1;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty()) {
        std::fprintf(stderr, "bench_startup: needs Xvfb and xwininfo (packages xvfb, x11-utils)\n");
        return 77;
    }
    // A private copy: its own log file beside it and its own single-instance identity.
    QTemporaryDir root;
    const QString program = root.filePath(QStringLiteral("tavrixvpn"));
    if (!QFile::copy(built, program)) {
        std::fprintf(stderr, "bench_startup: cannot copy the program\n");
        return 1;
    }
    Xvfb xvfb;
    if (!xvfb.start(parser.value(QStringLiteral("screen")))) {
        std::fprintf(stderr, "bench_startup: Xvfb did not start\n");
        return 1;
    }
    qputenv("TAVRIX_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    TavrixTest::DevService service;
    if (!service.start()) {
        std::fprintf(stderr, "bench_startup: the development service did not start\n");
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TAVRIXVPN_SERVICE_URL"), service.url());
    env.insert(QStringLiteral("TAVRIXVPN_SERVICE_CA"), service.caFile());
    const QString link = QStringLiteral("tavrixvpn://login?authenticate=premium@tavrixvpn.test&value=premiumpass1");

    // One of each first, not counted: page cache, fonts, the service's first answers.
    startOnce(program, env, xvfb.display(), QString());
    startOnce(program, env, xvfb.display(), link);
    QList<double> initialized, window, signedIn;
    int failures = 0;
    for (int rep = 0; rep < reps; ++rep) {
        const Run plain = startOnce(program, env, xvfb.display(), QString());
        const Run linked = startOnce(program, env, xvfb.display(), link);
        if (!plain.failure.isEmpty() || !linked.failure.isEmpty()) {
            ++failures;
            continue;
        }
        initialized << plain.initializedMs << linked.initializedMs;
        window << plain.windowMs;
        signedIn << linked.signedInMs;
        std::printf("rep %d: initialized %.0f ms, window %.0f ms; with a login link: initialized %.0f ms, signed "
                    "in %.0f ms\n",
                    rep + 1, plain.initializedMs, plain.windowMs, linked.initializedMs, linked.signedInMs);
        std::fflush(stdout);
    }
    if (window.isEmpty()) {
        std::fprintf(stderr, "bench_startup: no start completed\n");
        return 1;
    }
    std::printf("Start-up under Xvfb %s, fresh profile each start, medians of %d: initialized %.0f ms, window "
                "viewable %.0f ms, signed in by a login link %.0f ms\n",
                qPrintable(parser.value(QStringLiteral("screen"))), int(window.size()),
                TavrixBench::medianOf(initialized), TavrixBench::medianOf(window), TavrixBench::medianOf(signedIn));
    TavrixBench::printSamples(QStringLiteral("startup.initialized"), initialized, "ms");
    TavrixBench::printSamples(QStringLiteral("startup.window"), window, "ms");
    TavrixBench::printSamples(QStringLiteral("startup.signin"), signedIn, "ms");
    return failures == 0 ? 0 : 1;
}
