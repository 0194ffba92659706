#include "ui/servers/statsindicator.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>

#include "common/bytesize.h"
#include "common/config.h"
#include "common/user.h"
#include "platform/ping.h"

namespace Tavrix {

namespace {

const char *const kReceivedCounter = "\\Network Interface(*)\\Bytes Received/sec";
const char *const kSentCounter = "\\Network Interface(*)\\Bytes Sent/sec";
const int kStartWaitMs = 30000;

QLabel *iconLabel(const QString &name, const QString &path, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setPixmap(QPixmap(path).scaledToHeight(20, Qt::SmoothTransformation));
    return label;
}

QLabel *valueLabel(const QString &name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setMinimumWidth(72);
    return label;
}

// The counter program ships beside the client; fall back to the search path.
QString typeperfProgram()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/typeperf");
    return QFileInfo::exists(beside) ? beside : QStringLiteral("typeperf");
}

} // namespace

StatsIndicator::StatsIndicator(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("statsWidget"));
    m_lblDownloadIcon =
        iconLabel(QStringLiteral("lblDownloadIcon"), QStringLiteral(":/assets/greenDownload.png"), this);
    m_lblDownload = valueLabel(QStringLiteral("lblDownload"), QStringLiteral("0 B"), this);
    m_lblUploadIcon = iconLabel(QStringLiteral("lblUploadIcon"), QStringLiteral(":/assets/greenUpload.png"), this);
    m_lblUpload = valueLabel(QStringLiteral("lblUpload"), QStringLiteral("0 B"), this);
    m_lblPingIcon = iconLabel(QStringLiteral("lblPingIcon"), QStringLiteral(":/assets/greenPing.png"), this);
    m_lblPing = valueLabel(QStringLiteral("lblPing"), QStringLiteral("-- ms"), this);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 6, 16, 6);
    layout->setSpacing(6);
    layout->addStretch();
    const QList<QPair<QLabel *, QLabel *>> pairs = {
        {m_lblDownloadIcon, m_lblDownload}, {m_lblUploadIcon, m_lblUpload}, {m_lblPingIcon, m_lblPing}};
    for (int i = 0; i < pairs.size(); ++i) {
        if (i > 0)
            layout->addSpacing(18);
        layout->addWidget(pairs[i].first);
        layout->addWidget(pairs[i].second);
    }
    layout->addStretch();

    m_speedTimer.setSingleShot(true);
    m_speedTimer.setInterval(2000);
    connect(&m_speedTimer, &QTimer::timeout, this, &StatsIndicator::ServerSpeed);
    connect(&m_download, &QProcess::readyReadStandardOutput, this, &StatsIndicator::readProcessDownload);
    connect(&m_upload, &QProcess::readyReadStandardOutput, this, &StatsIndicator::readProcessUpload);
    connect(&m_ping, &QProcess::readyReadStandardOutput, this, &StatsIndicator::readProcessPing);

    auto *controller = OpenConnectConnection::instance().get();
    connect(controller, &OpenConnectConnection::statusChanged, this, &StatsIndicator::onStatusChanged);
    connect(controller, &OpenConnectConnection::statsChanged, this, &StatsIndicator::onStatsChanged);
}

StatsIndicator::~StatsIndicator()
{
    stopProcess(m_download);
    stopProcess(m_upload);
    stopProcess(m_ping);
}

QString StatsIndicator::normalizeByteSize(uint64_t bytes)
{
    return Tavrix::normalizeByteSize(bytes);
}

void StatsIndicator::onStatusChanged(OpenConnectConnection::Status status)
{
    if (status == OpenConnectConnection::CONNECTED) {
        const IPBundlePtr bundle = User::instance()->activeBundle();
        if (bundle)
            startMeasuring(bundle->ip().section(QLatin1Char(':'), 0, 0), Config::instance()->lastServerType());
    } else if (status == OpenConnectConnection::IDLE) {
        stopMeasuring();
    }
}

void StatsIndicator::onStatsChanged(uint64_t tx, uint64_t rx)
{
    m_lblDownload->setText(normalizeByteSize(rx));
    m_lblUpload->setText(normalizeByteSize(tx));
}

void StatsIndicator::startMeasuring(const QString &host, int serverType)
{
    stopProcess(m_ping);
    m_pingOutput.clear();
    if (!Ping::start(m_ping, host))
        return;
    if (!m_ping.waitForStarted(kStartWaitMs)) {
        qWarning() << "ping did not start:" << m_ping.errorString();
        return;
    }
    // These engines report no counters of their own: read the system's.
    if (serverType == 4 || serverType == 5 || serverType == 6)
        m_speedTimer.start();
}

void StatsIndicator::stopMeasuring()
{
    if (m_speedTimer.isActive())
        m_speedTimer.stop();
    stopProcess(m_download);
    stopProcess(m_upload);
}

void StatsIndicator::ServerSpeed()
{
    stopProcess(m_download);
    stopProcess(m_upload);
    m_downloadPending.clear();
    m_uploadPending.clear();
    m_download.start(typeperfProgram(), {QString::fromLatin1(kReceivedCounter)});
    if (!m_download.waitForStarted(kStartWaitMs)) {
        qWarning() << "typeperf did not start:" << m_download.errorString();
        return;
    }
    m_upload.start(typeperfProgram(), {QString::fromLatin1(kSentCounter)});
    if (!m_upload.waitForStarted(kStartWaitMs))
        qWarning() << "typeperf did not start:" << m_upload.errorString();
}

void StatsIndicator::showRate(QProcess &process, QByteArray &pending, QLabel *label)
{
    // Only whole lines count: a read may end in the middle of a number.
    pending += process.readAllStandardOutput();
    const int end = pending.lastIndexOf('\n');
    if (end < 0)
        return;
    const QString text = QString::fromLocal8Bit(pending.left(end)).trimmed();
    pending.remove(0, end + 1);
    if (text.isEmpty())
        return;
    // The last line's last column: the counter's newest sample.
    double value = 0;
    if (lastCounterValue(text, &value))
        label->setText(normalizeByteSize(static_cast<uint64_t>(value)));
}

void StatsIndicator::readProcessDownload()
{
    showRate(m_download, m_downloadPending, m_lblDownload);
}

void StatsIndicator::readProcessUpload()
{
    showRate(m_upload, m_uploadPending, m_lblUpload);
}

void StatsIndicator::readProcessPing()
{
    const QByteArray chunk = m_ping.readAllStandardOutput();
    qDebug() << "ping:::" << QString::fromLocal8Bit(chunk);
    // The summary may come in a later read than the echo lines.
    m_pingOutput += chunk;
    const int average = Ping::averageMs(QString::fromLocal8Bit(m_pingOutput));
    if (average >= 0)
        m_lblPing->setText(QStringLiteral("%1 ms").arg(average));
}

void StatsIndicator::stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(2000);
}

} // namespace Tavrix
