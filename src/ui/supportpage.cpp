#include "ui/supportpage.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSysInfo>
#include <QUrl>
#include <QVBoxLayout>

#include "common/config.h"
#include "common/user.h"
#include "platform/paths.h"
#include "ui/account/accountform.h"
#include "ui/diagnosticreport.h"
#include "ui/servers/dialog.h"
#include "ui/urlopener.h"
#include "ui/webaddresses.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {

namespace {
QPushButton *actionButton(const QString &text, const char *name, const QString &icon, QWidget *parent)
{
    auto *button = new QPushButton(QIcon(icon), text, parent);
    button->setObjectName(QLatin1String(name));
    button->setProperty("supportAction", true);
    button->setCursor(Qt::PointingHandCursor);
    button->setIconSize(QSize(22, 22));
    button->setMinimumHeight(48);
    return button;
}
} // namespace

SupportPage::SupportPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Get Support"), 3, parent)
{
    QVBoxLayout *column = body();
    column->addSpacing(16);
    column->addWidget(AccountForm::picture(QStringLiteral(":/assets/support.png"), 80, this));
    column->addWidget(AccountForm::text(QStringLiteral("How can we help?"), "lblTitle", this));
    column->addWidget(AccountForm::text(QStringLiteral("Write to our support team. A diagnostic report pasted into "
                                                       "your message helps us see what went wrong; passwords, "
                                                       "cookies and tokens are left out of it."),
                                        "lblMessage", this));
    column->addSpacing(12);
    m_email = actionButton(QString(), "btnEmailSupport", QStringLiteral(":/assets/mail.png"), this);
    auto *report = actionButton(QStringLiteral("Copy diagnostic report"), "btnCopyReport",
                                QStringLiteral(":/assets/copy2.png"), this);
    auto *logs = actionButton(QStringLiteral("Open log folder"), "btnOpenLogFolder",
                              QStringLiteral(":/assets/setting.png"), this);
    column->addWidget(m_email);
    column->addWidget(report);
    column->addWidget(logs);
    column->addStretch(1);

    connect(backButton(), &QPushButton::pressed, this, &SupportPage::clickBack);
    connect(m_email, &QPushButton::clicked, this, [] {
        openUrl(QUrl(QStringLiteral("mailto:") + supportAddress() + QStringLiteral("?subject=TavrixVPN%20support")));
    });
    connect(report, &QPushButton::clicked, this, &SupportPage::copyReport);
    connect(logs, &QPushButton::clicked, this,
            [] { openUrl(QUrl::fromLocalFile(QFileInfo(logFilePath()).absolutePath())); });
}

void SupportPage::showEvent(QShowEvent *event)
{
    m_email->setText(supportAddress());
    PlaceholderPage::showEvent(event);
}

QString SupportPage::supportAddress()
{
    const QString contact = User::instance()->contact_email().trimmed();
    return contact.contains(QLatin1Char('@')) ? contact : WebAddress::supportEmail();
}

QString SupportPage::diagnosticReport()
{
    DiagnosticReport::Facts facts;
    facts.version = QCoreApplication::applicationVersion();
    facts.operatingSystem = QStringLiteral("%1 (%2 %3, %4)")
                                .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
                                     QSysInfo::currentCpuArchitecture());
    facts.status = DiagnosticReport::statusName(OpenConnectConnection::instance()->status());
    facts.logFile = logFilePath();
    const auto config = Config::instance();
    return DiagnosticReport::build(facts, DiagnosticReport::lastLines(logFilePath()),
                                   {config->password(), config->shadowsocksPassword()});
}

void SupportPage::copyReport()
{
    QApplication::clipboard()->setText(diagnosticReport());
    auto *popup = new Dialog(this);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setText(QStringLiteral("Diagnostic report copied to clipboard"));
    popup->show();
}

} // namespace Tavrix
