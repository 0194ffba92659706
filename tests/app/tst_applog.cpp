#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "log/filelogger.h"
#include "log/logger.h"
#include "testmain.h"

using namespace Tavrix;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void append(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

// Numbered lines of exactly width bytes (line feed included), totalling size bytes; the
// last line is shortened when needed. width 0: one run of bytes without any line feed.
QByteArray filler(qint64 size, int width)
{
    QByteArray out;
    out.reserve(int(size));
    if (width == 0)
        return QByteArray(int(size), 'x');
    int n = 0;
    while (out.size() < size) {
        QByteArray line = QByteArray::number(n++).rightJustified(8, '0') + ' ';
        line += QByteArray(width - line.size() - 1, 'a' + n % 26) + '\n';
        out += line.left(int(size - out.size()));
    }
    return out;
}

QByteArray rotationMarker()
{
    const QByteArray tildes(80, '~');
    return "\n" + tildes + "\n[LOG ROTATED] - Older entries removed due to size limit\n" + tildes + "\n\n";
}

} // namespace

class AppLogTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

    void freshLog()
    {
        closeFileLogging();
        QFile::remove(m_path);
        setLogRotationEnabled(true);
        QVERIFY(initFileLogging(m_path));
    }

private slots:
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("logger.txt"));
        freshLog();
    }

    void cleanupTestCase() { closeFileLogging(); }

    void rotation_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("lineWidth");
        QTest::addColumn<bool>("cut");
        QTest::newRow("one byte below the limit") << qint64(1048575) << 100 << false;
        QTest::newRow("at the limit, lines") << qint64(1048576) << 100 << true;
        QTest::newRow("at the limit, long lines") << qint64(1048576) << 4097 << true;
        QTest::newRow("far above the limit") << qint64(3 * 1048576 + 17) << 73 << true;
        QTest::newRow("no line feed in the tail") << qint64(1048576) << 0 << true;
    }

    void rotation()
    {
        QFETCH(qint64, size);
        QFETCH(int, lineWidth);
        QFETCH(bool, cut);

        const qint64 header = QFileInfo(m_path).size();
        append(m_path, filler(size - header, lineWidth));
        const QByteArray before = readAll(m_path);
        QCOMPARE(qint64(before.size()), size);

        rotateLogIfNeeded();
        const QByteArray after = readAll(m_path);
        if (!cut) {
            QCOMPARE(after, before);
            return;
        }
        QVERIFY(after.endsWith(rotationMarker()));
        const QByteArray kept = after.left(after.size() - rotationMarker().size());
        QVERIFY(before.endsWith(kept));
        QVERIFY(kept.size() <= 819200);
        if (lineWidth == 0) {
            QCOMPARE(kept.size(), 819200);
        } else {
            // Starts right after a line feed, and no more than one line was given up for it.
            QCOMPARE(before.at(before.size() - kept.size() - 1), '\n');
            QVERIFY(kept.size() >= 819200 - lineWidth);
        }

        // New lines continue after the marker.
        fileMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("after the cut"));
        const QByteArray latest = readAll(m_path);
        QVERIFY(latest.startsWith(after));
        QVERIFY(latest.mid(after.size()).endsWith("] [DEBUG] after the cut\n"));
    }

    void secondInstanceDoesNotRotate()
    {
        setLogRotationEnabled(false);
        append(m_path, filler(1100000, 100));
        const QByteArray before = readAll(m_path);
        rotateLogIfNeeded();
        fileMessageHandler(QtWarningMsg, QMessageLogContext(), QStringLiteral("still appending"));
        const QByteArray after = readAll(m_path);
        QVERIFY(after.startsWith(before));
        QVERIFY(after.endsWith("] [WARNING] still appending\n"));
    }

    void logFileIsOwnerOnly_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("new file") << "none";
        QTest::newRow("existing world-readable file") << "0644";
        QTest::newRow("link planted at the name") << "link";
    }

    // The log names the account, its addresses and DNS servers.
    void logFileIsOwnerOnly()
    {
        QFETCH(QString, before);
        closeFileLogging();
        QFile::remove(m_path);
        const QString target = m_dir.filePath(QStringLiteral("elsewhere.txt"));
        QFile::remove(target);
        if (before == QLatin1String("0644")) {
            append(m_path, "old line\n");
            QVERIFY(QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ReadGroup | QFileDevice::ReadOther));
        } else if (before == QLatin1String("link")) {
            append(target, "");
            QVERIFY(QFile::link(target, m_path));
        }
        const bool opened = initFileLogging(m_path);
        fileMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("user@example.com"));
        closeFileLogging();
        if (before == QLatin1String("link")) {
            QVERIFY(!opened);
            QCOMPARE(readAll(target), QByteArray());
        } else {
            QVERIFY(opened);
            const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                    QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                    QFileDevice::WriteOther | QFileDevice::ExeOther;
            QCOMPARE(QFileInfo(m_path).permissions() & others, QFileDevice::Permissions());
            QVERIFY(readAll(m_path).contains("user@example.com"));
        }
        QFile::remove(m_path);
        freshLog();
    }

    void failedRotationKeepsLoggingQuietAndResponsive()
    {
        // The log's path turns into a folder under the running program, so that both the
        // rotation's read and its fallback reopen fail.
        append(m_path, filler(1048576, 100));
        QVERIFY(QFile::remove(m_path));
        QVERIFY(QDir().mkdir(m_path));
        const QString errPath = m_dir.filePath(QStringLiteral("stderr.txt"));
        fflush(stderr);
        const int savedErr = dup(2);
        const int errFile = ::open(QFile::encodeName(errPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(savedErr >= 0 && errFile >= 0);
        dup2(errFile, 2);
        const QtMessageHandler previous = qInstallMessageHandler(fileMessageHandler);
        std::atomic<int> written{0};
        // Detached: a deadlocked logger would otherwise hang the whole test run.
        std::thread([&written] {
            for (int i = 0; i < 5; ++i) {
                qWarning() << "after a failed rotation" << i;
                ++written;
            }
        }).detach();
        const bool returned = QTest::qWaitFor([&] { return written == 5; }, 5000);
        fflush(stderr);
        dup2(savedErr, 2);
        ::close(savedErr);
        ::close(errFile);
        QVERIFY2(returned, "logging hung after a failed rotation");
        qInstallMessageHandler(previous);
        QVERIFY(QDir().rmdir(m_path));
        freshLog();

        // Every message still reaches standard error, and nothing writes to the lost file.
        const QByteArray err = readAll(errPath);
        QVERIFY(err.contains("ERROR: Failed to reopen log file after rotation"));
        QCOMPARE(err.count("] [WARNING] after a failed rotation"), 5);
        QVERIFY2(!err.contains("device not open"), err.constData());
    }

    void lineFormat_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("debug without source") << int(QtDebugMsg) << QByteArray("a.cpp") << 12 << "[DEBUG] hello";
        QTest::newRow("info without source") << int(QtInfoMsg) << QByteArray("a.cpp") << 12 << "[INFO] hello";
        QTest::newRow("warning with source")
            << int(QtWarningMsg) << QByteArray("src/a.cpp") << 12 << "[WARNING] hello (src/a.cpp:12)";
        QTest::newRow("critical with source")
            << int(QtCriticalMsg) << QByteArray("b.cpp") << 7 << "[CRITICAL] hello (b.cpp:7)";
        QTest::newRow("warning, line 0") << int(QtWarningMsg) << QByteArray("a.cpp") << 0 << "[WARNING] hello";
        QTest::newRow("warning, no file") << int(QtWarningMsg) << QByteArray() << 5 << "[WARNING] hello";
        QTest::newRow("unknown type") << 42 << QByteArray() << 0 << "[] hello";
    }

    void lineFormat()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, file);
        QFETCH(int, line);
        QFETCH(QString, expected);
        const QMessageLogContext context(file.isEmpty() ? nullptr : file.constData(), line, "f", "default");
        fileMessageHandler(QtMsgType(type), context, QStringLiteral("hello"));
        const QStringList lines = QString::fromUtf8(readAll(m_path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QRegularExpression shape(
            QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] (.*)$"));
        const QRegularExpressionMatch match = shape.match(lines.last());
        QVERIFY2(match.hasMatch(), qPrintable(lines.last()));
        QCOMPARE(match.captured(1), expected);
    }

    void headerAndFooter()
    {
        fileMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("first run"));
        closeFileLogging();
        const qint64 size = QFileInfo(m_path).size();
        QVERIFY(initFileLogging(m_path));
        closeFileLogging();
        const QString text = QString::fromUtf8(readAll(m_path));
        QCOMPARE(text.count(QStringLiteral("New Session Started: ")), 2);
        QCOMPARE(text.count(QStringLiteral("Session Ended: ")), 2);
        QCOMPARE(text.count(QStringLiteral("Existing log size: ")), 1);
        QVERIFY(text.contains(QStringLiteral("Existing log size: %1 bytes\n").arg(size)));
        QVERIFY(text.contains(QStringLiteral("Log file path: ") + m_path + QLatin1Char('\n')));
        QVERIFY(text.endsWith(QLatin1Char('\n') + QString(80, QLatin1Char('=')) + QStringLiteral("\n\n")));
    }

    void closeWithoutOpenIsHarmless()
    {
        closeFileLogging();
        const QByteArray before = readAll(m_path);
        closeFileLogging();
        fileMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("nowhere"));
        QCOMPARE(readAll(m_path), before);

        const QString missing = m_dir.filePath(QStringLiteral("no/such/folder/logger.txt"));
        QVERIFY(!initFileLogging(missing));
        closeFileLogging();
        QVERIFY(!QFile::exists(missing));
    }

    void closingWhileThreadsLog()
    {
        // Pool threads may still log while the program exits.
        std::atomic<bool> stop{false};
        QVector<QThread *> threads;
        for (int i = 0; i < 4; ++i) {
            threads << QThread::create([&stop, i] {
                while (!stop)
                    fileMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("worker %1").arg(i));
            });
            threads.last()->start();
        }
        QThread::msleep(30);
        closeFileLogging();
        QThread::msleep(30);
        stop = true;
        for (QThread *t : threads) {
            QVERIFY(t->wait(5000));
            delete t;
        }
        const QString text = QString::fromUtf8(readAll(m_path));
        // The footer is whole and nothing follows it.
        QVERIFY(text.endsWith(QLatin1Char('\n') + QString(80, QLatin1Char('=')) + QStringLiteral("\n\n")));
        const int footer = text.lastIndexOf(QStringLiteral("Session Ended: "));
        QVERIFY(footer > 0);
        QVERIFY(!text.mid(footer).contains(QStringLiteral("worker")));
    }

    void loggerKeepsTheNewest19999()
    {
        Logger *logger = Logger::instance();
        QSignalSpy spy(logger, &Logger::newLogMessage);
        // Keep the 20,000 lines out of the file and off the terminal.
        closeFileLogging();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        for (int i = 1; i <= 20000; ++i)
            logger->log(QStringLiteral("entry %1").arg(i), 1, 4);
        qInstallMessageHandler(previous);

        const QVector<Logger::Message> messages = logger->messages();
        QCOMPARE(messages.size(), 19999);
        QCOMPARE(messages.first().text, QStringLiteral("entry 2"));
        QCOMPARE(messages.first().sequence, 2);
        QCOMPARE(messages.last().text, QStringLiteral("entry 20000"));
        QCOMPARE(messages.last().sequence, 20000);
        QCOMPARE(messages.last().level, 1);
        QCOMPARE(messages.last().category, 4);
        QCOMPARE(messages.last().threadId, QThread::currentThreadId());
        QCOMPARE(spy.count(), 20000);
        QCOMPARE(spy.last().first().value<Logger::Message>().sequence, 20000);
    }
};

TAVRIX_TEST_MAIN_CORE(AppLogTest)
#include "tst_applog.moc"
