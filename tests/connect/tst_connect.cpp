#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>

#include <limits>

#include "common/bytesize.h"
#include "platform/ping.h"
#include "testmain_gui.h"
#include "ui/servers/statsindicator.h"

using namespace Tavrix;

namespace {

QString binPath(const QString &name)
{
    return qEnvironmentVariable("TAVRIX_BIN_DIR") + QLatin1Char('/') + name;
}

int interfaceCount()
{
    QFile dev(QStringLiteral("/proc/net/dev"));
    if (!dev.open(QIODevice::ReadOnly))
        return -1;
    return QString::fromLatin1(dev.readAll()).count(QLatin1Char(':'));
}

} // namespace

class ConnectTest : public QObject
{
    Q_OBJECT
private slots:
    void normalizeByteSize_data();
    void normalizeByteSize();
    void counterValue_data();
    void counterValue();
    void pingAverage_data();
    void pingAverage();
    void pingRunsAgainstLoopback();
    void pingRefusesHostsThatAreNotNamesOrAddresses_data();
    void pingRefusesHostsThatAreNotNamesOrAddresses();
    void typeperfPrintsCsvSamples_data();
    void typeperfPrintsCsvSamples();
    void typeperfRunsUntilKilledWithoutSampleCount();
    void typeperfRejectsUnknownCounter();
};

void ConnectTest::normalizeByteSize_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << quint64(0) << "0 B";
    QTest::newRow("512") << quint64(512) << "512 B";
    QTest::newRow("last byte count") << quint64(1023) << "1023 B";
    QTest::newRow("one kilo") << quint64(1024) << "1.0 KB";
    QTest::newRow("kilo and a half") << quint64(1536) << "1.5 KB";
    QTest::newRow("just below a mega") << quint64(1048575) << "1024.0 KB";
    QTest::newRow("one mega") << quint64(1048576) << "1.0 MB";
    QTest::newRow("five mega") << quint64(5242880) << "5.0 MB";
    QTest::newRow("one giga") << quint64(1073741824) << "1.0 GB";
    QTest::newRow("one tera") << (quint64(1) << 40) << "1.0 TB";
    QTest::newRow("largest count") << std::numeric_limits<quint64>::max() << "16.0 EB";
}

void ConnectTest::normalizeByteSize()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(StatsIndicator::normalizeByteSize(bytes), text);
}

void ConnectTest::pingAverage_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("ms");
    QTest::newRow("windows")
        << "Reply from 10.0.0.1: bytes=32 time=23ms TTL=57\r\n\r\n"
           "Ping statistics for 10.0.0.1:\r\n    Packets: Sent = 1, Received = 1, Lost = 0 (0% loss),\r\n"
           "Approximate round trip times in milli-seconds:\r\n"
           "    Minimum = 23ms, Maximum = 23ms, Average = 23ms\r\n"
        << 23;
    QTest::newRow("linux rounds down") << "64 bytes from 10.0.0.1: icmp_seq=1 ttl=57 time=12.4 ms\n\n"
                                          "--- 10.0.0.1 ping statistics ---\n"
                                          "1 packets transmitted, 1 received, 0% packet loss, time 0ms\n"
                                          "rtt min/avg/max/mdev = 12.400/12.400/12.400/0.000 ms\n"
                                       << 12;
    QTest::newRow("linux rounds up") << "rtt min/avg/max/mdev = 1.2/12.5/20.1/3.0 ms\n" << 13;
    QTest::newRow("linux loopback below half") << "rtt min/avg/max/mdev = 0.041/0.041/0.041/0.000 ms\n" << 0;
    QTest::newRow("busybox") << "round-trip min/avg/max = 3.1/4.6/5.0 ms\n" << 5;
    QTest::newRow("unreachable") << "--- 10.0.0.9 ping statistics ---\n"
                                    "1 packets transmitted, 0 received, 100% packet loss, time 0ms\n"
                                 << -1;
    QTest::newRow("windows timed out") << "Request timed out.\r\n\r\nPing statistics for 10.0.0.9:\r\n"
                                          "    Packets: Sent = 1, Received = 0, Lost = 1 (100% loss),\r\n"
                                       << -1;
    QTest::newRow("cut short") << "rtt min/avg/max/mdev = 12.4" << -1;
    // Found by fuzzing: these wrapped to a negative or zero round trip.
    QTest::newRow("linux average past an int") << "rtt min/avg/max = 8/222222222223/000 ms\n" << -1;
    QTest::newRow("windows average past an int") << "Minimum = 1ms, Maximum = 1ms, Average = 99999999999ms\r\n" << -1;
}

void ConnectTest::counterValue_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("read");
    QTest::addColumn<double>("value");
    QTest::newRow("header") << R"csv("(PDH-CSV 4.0)","\\PC\Network Interface(lo)\Bytes Sent/sec")csv" << false << 0.0;
    QTest::newRow("sample, last interface") << R"csv("12/09/2026 16:00:01.000","12.0","1234.5")csv" << true << 1234.5;
    QTest::newRow("negative") << R"csv("12/09/2026 16:00:01.000","-1")csv" << false << 0.0;
    // Found by fuzzing: numbers for the parser, but converting them to a byte count is undefined.
    QTest::newRow("not a number") << R"csv("12/09/2026 16:00:01.000","nan")csv" << false << 0.0;
    QTest::newRow("infinite") << R"csv("12/09/2026 16:00:01.000","inf")csv" << false << 0.0;
    QTest::newRow("past 64 bits") << R"csv("12/09/2026 16:00:01.000","3.3e43")csv" << false << 0.0;
}

void ConnectTest::counterValue()
{
    QFETCH(QString, line);
    QFETCH(bool, read);
    QFETCH(double, value);
    double got = 0;
    QCOMPARE(lastCounterValue(line, &got), read);
    if (read)
        QCOMPARE(got, value);
}

void ConnectTest::pingAverage()
{
    QFETCH(QString, output);
    QFETCH(int, ms);
    QCOMPARE(Ping::averageMs(output), ms);
}

void ConnectTest::pingRunsAgainstLoopback()
{
    QProcess ping;
    Ping::start(ping, QStringLiteral("127.0.0.1"));
    if (!ping.waitForStarted(5000))
        QSKIP("no ping program on this machine");
    QVERIFY(ping.waitForFinished(10000));
    const QString output = QString::fromLocal8Bit(ping.readAllStandardOutput());
    if (ping.exitCode() != 0)
        QSKIP(qPrintable(QStringLiteral("ping may not run here: ") +
                         QString::fromLocal8Bit(ping.readAllStandardError())));
    QVERIFY2(Ping::averageMs(output) >= 0, qPrintable(output));
}

void ConnectTest::pingRefusesHostsThatAreNotNamesOrAddresses_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ipv4") << "10.1.2.3" << true;
    QTest::newRow("ipv6") << "fd00::1" << true;
    QTest::newRow("name") << "vpn-1.example.com" << true;
    QTest::newRow("option") << "-f" << false;
    QTest::newRow("option with value") << "-i0.001" << false;
    QTest::newRow("blank inside") << "a b" << false;
    QTest::newRow("shell") << "host;reboot" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("label ends with hyphen") << "bad-.example.com" << false;
}

void ConnectTest::pingRefusesHostsThatAreNotNamesOrAddresses()
{
    QFETCH(QString, host);
    QFETCH(bool, valid);
    QProcess ping;
    QCOMPARE(Ping::start(ping, host), valid);
    if (valid) {
        // The host is the last argument, after "--" where the platform's ping knows it.
        QCOMPARE(ping.arguments().last(), host);
        ping.kill();
        ping.waitForFinished(5000);
    } else {
        QCOMPARE(ping.state(), QProcess::NotRunning);
        QVERIFY(ping.program().isEmpty());
    }
    const QStringList args = Ping::arguments(host);
    if (args.contains(QStringLiteral("--")))
        QCOMPARE(args.indexOf(QStringLiteral("--")), args.size() - 2);
}

void ConnectTest::typeperfPrintsCsvSamples_data()
{
    QTest::addColumn<QString>("counter");
    QTest::addColumn<QString>("label");
    QTest::newRow("received") << "\\Network Interface(*)\\Bytes Received/sec"
                              << "Bytes Received/sec";
    QTest::newRow("sent") << "\\Network Interface(*)\\Bytes Sent/sec"
                          << "Bytes Sent/sec";
}

void ConnectTest::typeperfPrintsCsvSamples()
{
    QFETCH(QString, counter);
    QFETCH(QString, label);
    QProcess typeperf;
    typeperf.start(binPath(QStringLiteral("typeperf")), {counter, QStringLiteral("-sc"), QStringLiteral("2")});
    QVERIFY(typeperf.waitForFinished(10000));
    QCOMPARE(typeperf.exitStatus(), QProcess::NormalExit);
    QCOMPARE(typeperf.exitCode(), 0);

    const QStringList lines =
        QString::fromLocal8Bit(typeperf.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QRegularExpression csvLine(QStringLiteral("^\".*\"$"));
    QStringList csv;
    for (const QString &line : lines) {
        if (csvLine.match(line).hasMatch())
            csv << line;
    }
    QCOMPARE(csv.size(), 3); // header and two samples

    const int columns = interfaceCount() + 1;
    const QStringList header = csv[0].split(QStringLiteral("\",\""));
    QCOMPARE(header.size(), columns);
    QVERIFY(header[0].contains(QStringLiteral("(PDH-CSV 4.0)")));
    for (int i = 1; i < header.size(); ++i)
        QVERIFY2(header[i].contains(QStringLiteral("\\Network Interface(")) && header[i].contains(label),
                 qPrintable(header[i]));

    const QRegularExpression time(QStringLiteral("^\"\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\"$"));
    const QRegularExpression value(QStringLiteral("^\"\\d+\\.\\d{6}\"$"));
    for (int row = 1; row < csv.size(); ++row) {
        const QStringList fields = csv[row].split(QLatin1Char(','));
        QCOMPARE(fields.size(), columns);
        QVERIFY2(time.match(fields[0]).hasMatch(), qPrintable(fields[0]));
        for (int i = 1; i < fields.size(); ++i)
            QVERIFY2(value.match(fields[i]).hasMatch(), qPrintable(fields[i]));
    }
}

void ConnectTest::typeperfRunsUntilKilledWithoutSampleCount()
{
    QProcess typeperf;
    typeperf.start(binPath(QStringLiteral("typeperf")), {QStringLiteral("\\Network Interface(*)\\Bytes Sent/sec")});
    QVERIFY(typeperf.waitForStarted(5000));
    QTest::qWait(2600);
    QCOMPARE(typeperf.state(), QProcess::Running);
    const QString output = QString::fromLocal8Bit(typeperf.readAllStandardOutput());
    QVERIFY2(output.count(QLatin1Char('\n')) >= 3, qPrintable(output));
    typeperf.kill();
    QVERIFY(typeperf.waitForFinished(5000));
}

void ConnectTest::typeperfRejectsUnknownCounter()
{
    QProcess typeperf;
    typeperf.start(binPath(QStringLiteral("typeperf")), {QStringLiteral("\\Processor(_Total)\\% Processor Time"),
                                                         QStringLiteral("-sc"), QStringLiteral("1")});
    QVERIFY(typeperf.waitForFinished(5000));
    QVERIFY(typeperf.exitCode() != 0);
}

TAVRIX_TEST_MAIN_GUI(ConnectTest)
#include "tst_connect.moc"
