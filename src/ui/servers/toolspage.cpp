#include "ui/servers/toolspage.h"

#include <QDebug>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "api/apirequest.h"
#include "common/bytesize.h"
#include "common/config.h"
#include "common/user.h"
#include "platform/engineprocesses.h"
#include "platform/ping.h"
#include "ui/brand.h"
#include "ui/card.h"
#include "ui/servers/narrowwrap.h"

namespace Tavrix {

namespace {

constexpr int kStartWaitMs = 30000;
const char *const kReceivedCounter = "\\Network Interface(*)\\Bytes Received/sec";
const char *const kSentCounter = "\\Network Interface(*)\\Bytes Sent/sec";

QLabel *makeLabel(const char *name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QLabel *makeIcon(const char *name, const char *picture, QWidget *parent)
{
    auto *label = makeLabel(name, QString(), parent);
    label->setProperty("picture", QLatin1String(picture));
    return label;
}

// The counter program ships beside the client; fall back to the search path.
QString typeperfProgram()
{
    const QString beside = EngineProcesses::enginePath(QStringLiteral("typeperf.exe"));
    return QFileInfo::exists(beside) ? beside : QStringLiteral("typeperf");
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(3000);
}

} // namespace

ToolsPage::ToolsPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Tools"), 4, parent)
    , m_api(ApiRequest::instance())
{
    buildForm();
    connect(backButton(), &QPushButton::pressed, this, &ToolsPage::on_btnBack_pressed);
    connect(m_btnTest, &QPushButton::pressed, this, &ToolsPage::on_btnTest_pressed);
    connect(&m_download, &QProcess::readyReadStandardOutput, this, &ToolsPage::readProcessDownload);
    connect(&m_upload, &QProcess::readyReadStandardOutput, this, &ToolsPage::readProcessUpload);
    connect(&m_ping, &QProcess::readyReadStandardOutput, this, &ToolsPage::readProcessPing);
    connect(&m_ipLookup, &QFutureWatcher<QString>::finished, this, &ToolsPage::onPublicIpFound);
}

ToolsPage::~ToolsPage()
{
    stopCounters();
    stopProcess(m_ping);
    // The lookup holds the shared account client, not this page; wait so its end does not
    // reach a destroyed watcher.
    m_ipLookup.waitForFinished();
}

void ToolsPage::buildForm()
{
    QWidget *page = this;
    m_lblTavrixLogo = makeIcon("lblTavrixLogo", ":/assets/tavrix-vpn-logo.png", page);
    m_lblTestLogo = makeIcon("lblTestLogo", ":/assets/test.png", page);
    auto *headline = makeLabel("lblHeadline", QStringLiteral("Internet Security \nand Speed Test"), page);
    headline->setAlignment(Qt::AlignCenter);

    m_lblSecurityLogo = makeIcon("lblSecurityLogo", ":/assets/cross.png", page);
    m_lblIPLogo = makeIcon("lblIPLogo", ":/assets/ip-icon.png", page);
    m_lblDownlordLogo = makeIcon("lblDownlordLogo", ":/assets/toolsDownload.png", page);
    m_lblUploadLogo = makeIcon("lblUploadLogo", ":/assets/toolsupload.png", page);
    m_lblPingLogo = makeIcon("lblPingLogo", ":/assets/toolsping.png", page);

    m_lblrisk = makeLabel("lblrisk", QStringLiteral("Not tested yet"), page);
    m_lblIP = makeLabel("lblIP", QStringLiteral("000.0.0.0"), page);
    m_lblIP->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblDwnload = makeLabel("lblDwnload", QStringLiteral("00.00 Mbps"), page);
    m_lblUpload = makeLabel("lblUpload", QStringLiteral("00.00 Mbps"), page);
    m_lblPing = makeLabel("lblPing", QStringLiteral("0.00 Ms"), page);

    m_btnTest = new QPushButton(QStringLiteral("Test Your Network"), page);
    m_btnTest->setObjectName(QStringLiteral("btnTest"));
    m_btnTest->setCursor(Qt::PointingHandCursor);
    m_btnTest->setMinimumHeight(44);
    // The house button look, as on the other hub pages.
    Brand::setLook(m_btnTest, "filled");

    // One card per measurement: icon, caption, value.
    auto *results = new Card(page);
    results->setObjectName(QStringLiteral("toolsResults"));
    auto *grid = new QGridLayout(results);
    grid->setContentsMargins(16, 12, 16, 12);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(14);
    const struct
    {
        QLabel *icon;
        const char *caption;
        QLabel *value;
    } rows[] = {{m_lblSecurityLogo, "Security level", m_lblrisk},
                {m_lblIPLogo, "IP Address", m_lblIP},
                {m_lblDownlordLogo, "Download Speed", m_lblDwnload},
                {m_lblUploadLogo, "Upload Speed", m_lblUpload},
                {m_lblPingLogo, "Ping", m_lblPing}};
    QList<QLabel *> captions;
    int row = 0;
    for (const auto &entry : rows) {
        auto *caption = new QLabel(QLatin1String(entry.caption), results);
        caption->setObjectName(QStringLiteral("lblToolsCaption"));
        captions.append(caption);
        entry.value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(entry.icon, row, 0);
        grid->addWidget(caption, row, 1);
        grid->addWidget(entry.value, row, 2);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    // In a narrow panel the captions wrap, so the values beside them keep their whole text.
    new NarrowWrap(results, captions);

    auto *top = new QHBoxLayout;
    top->addStretch();
    top->addWidget(m_lblTavrixLogo);
    top->addStretch();
    auto *testRow = new QHBoxLayout;
    testRow->addStretch();
    testRow->addWidget(m_lblTestLogo);
    testRow->addWidget(headline);
    testRow->addStretch();

    body()->setSpacing(14);
    body()->addLayout(top);
    body()->addLayout(testRow);
    body()->addWidget(results);
    body()->addWidget(m_btnTest);
    body()->addStretch(1);
}

void ToolsPage::showEvent(QShowEvent *event)
{
    PlaceholderPage::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            return;
        m_lblrisk->setText(QStringLiteral("Not Tested Yet"));
        m_lblrisk->setProperty("level", QVariant());
        m_lblrisk->style()->unpolish(m_lblrisk);
        m_lblrisk->style()->polish(m_lblrisk);
        for (QLabel *icon : {m_lblTavrixLogo, m_lblTestLogo, m_lblSecurityLogo, m_lblIPLogo, m_lblDownlordLogo,
                             m_lblUploadLogo, m_lblPingLogo}) {
            const QString picture = icon->property("picture").toString();
            const int side = icon == m_lblTestLogo ? 48 : 30;
            if (icon == m_lblTavrixLogo)
                icon->setPixmap(QPixmap(picture).scaledToHeight(side, Qt::SmoothTransformation));
            else
                icon->setPixmap(QPixmap(picture).scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
        Config::instance()->save();
    });
}

QString ToolsPage::normalizeByteSize(uint64_t bytes)
{
    return Tavrix::normalizeByteSize(bytes);
}

bool ToolsPage::isTesting() const
{
    return m_download.state() != QProcess::NotRunning || m_upload.state() != QProcess::NotRunning ||
           m_ping.state() != QProcess::NotRunning || m_ipLookup.isRunning();
}

void ToolsPage::stopCounters()
{
    stopProcess(m_download);
    stopProcess(m_upload);
    m_downloadPending.clear();
    m_uploadPending.clear();
}

void ToolsPage::on_btnBack_pressed()
{
    stopCounters();
    emit clickBack();
}

void ToolsPage::on_btnTest_pressed()
{
    stopCounters();
    ServerSpeed();
}

void ToolsPage::ServerSpeed()
{
    const QString typeperf = typeperfProgram();
    m_download.start(typeperf, {QString::fromLatin1(kReceivedCounter), QStringLiteral("-sc"), QStringLiteral("2")});
    if (!m_download.waitForStarted(kStartWaitMs)) {
        qWarning().noquote() << "typeperf did not start:" << m_download.errorString();
        return;
    }
    m_upload.start(typeperf, {QString::fromLatin1(kSentCounter), QStringLiteral("-sc"), QStringLiteral("2")});
    if (!m_upload.waitForStarted(kStartWaitMs)) {
        qWarning().noquote() << "typeperf did not start:" << m_upload.errorString();
        return;
    }

    if (Config::instance()->connectionState()) {
        setLevel(true);
        const IPBundlePtr bundle = User::instance()->activeBundle();
        if (bundle) {
            showAddress(bundle->ip());
            return;
        }
        // Connected without a known entry (the list changed meanwhile): the address the
        // service sees is then the tunnel's exit, so ask for it like the unprotected case.
    } else {
        setLevel(false);
        if (!m_publicIp.isEmpty()) {
            showAddress(m_publicIp);
            return;
        }
    }
    if (m_ipLookup.isRunning())
        return;
    auto api = m_api;
    m_ipLookup.setFuture(QtConcurrent::run([api] { return api ? api->publicIp() : QString(); }));
}

void ToolsPage::onPublicIpFound()
{
    const QString address = m_ipLookup.result();
    const bool secure = Config::instance()->connectionState();
    // Only the unprotected address is the machine's own; a tunnel's exit changes per server.
    if (!secure && m_publicIp.isEmpty())
        m_publicIp = address;
    showAddress(address);
}

void ToolsPage::showAddress(const QString &address)
{
    const QString host = address.section(QLatin1Char(':'), 0, 0);
    m_lblIP->setText(host);
    if (host.isEmpty())
        return;
    stopProcess(m_ping);
    Ping::start(m_ping, host);
    if (!m_ping.waitForStarted(kStartWaitMs))
        qWarning().noquote() << "ping did not start:" << m_ping.errorString();
}

void ToolsPage::setLevel(bool secure)
{
    m_lblrisk->setText(secure ? QStringLiteral("Secure") : QStringLiteral("Risk"));
    m_lblrisk->setProperty("level", secure ? QStringLiteral("secure") : QStringLiteral("risk"));
    m_lblrisk->style()->unpolish(m_lblrisk);
    m_lblrisk->style()->polish(m_lblrisk);
    const QString picture = secure ? QStringLiteral(":/assets/protected.png") : QStringLiteral(":/assets/cross.png");
    m_lblSecurityLogo->setPixmap(QPixmap(picture).scaled(30, 30, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void ToolsPage::showRate(QProcess &process, QByteArray &pending, QLabel *label)
{
    // Only whole lines count: a read may end in the middle of a number.
    pending += process.readAllStandardOutput();
    const int end = pending.lastIndexOf('\n');
    if (end < 0)
        return;
    const QStringList lines = QString::fromLocal8Bit(pending.left(end)).split(QLatin1Char('\n'));
    pending.remove(0, end + 1);
    for (const QString &line : lines) {
        double value = 0;
        if (lastCounterValue(line.trimmed(), &value))
            label->setText(normalizeByteSize(static_cast<uint64_t>(value)));
    }
}

void ToolsPage::readProcessDownload()
{
    showRate(m_download, m_downloadPending, m_lblDwnload);
}

void ToolsPage::readProcessUpload()
{
    showRate(m_upload, m_uploadPending, m_lblUpload);
}

void ToolsPage::readProcessPing()
{
    // The summary comes last; keep reading until it is complete.
    const QString output = QString::fromLocal8Bit(m_ping.peek(m_ping.bytesAvailable()));
    const int average = Ping::averageMs(output);
    if (average < 0)
        return;
    m_ping.readAll();
    m_lblPing->setText(QString::number(average) + QStringLiteral(" ms"));
}

} // namespace Tavrix
