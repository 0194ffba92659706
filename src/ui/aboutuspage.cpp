#include "ui/aboutuspage.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ui/account/accountform.h"
#include "ui/urlopener.h"
#include "ui/webaddresses.h"

namespace Tavrix {

AboutUsPage::AboutUsPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("About Us"), 7, parent)
{
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrollArea"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto *content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("aboutContent"));
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 8, 8, 8);
    column->setSpacing(8);

    column->addWidget(AccountForm::picture(QStringLiteral(":/assets/tavrix-vpn-logo.png"), 96, content));
    column->addWidget(AccountForm::text(QStringLiteral("TavrixVPN"), "lblTitle", content));
    column->addWidget(
        AccountForm::text(QStringLiteral("Version ") + QCoreApplication::applicationVersion(), "lblVersion", content));
    column->addWidget(AccountForm::text(QStringLiteral("One button between your computer and the open internet: "
                                                       "servers in many countries, six tunnel protocols, a kill "
                                                       "switch and split tunnelling."),
                                        "lblMessage", content));
    const QUrl home = WebAddress::homePage();
    auto *homeButton =
        new QPushButton(home.host() + (home.port() > 0 ? QStringLiteral(":%1").arg(home.port()) : QString()), content);
    homeButton->setObjectName(QStringLiteral("btnHomePage"));
    homeButton->setCursor(Qt::PointingHandCursor);
    column->addWidget(homeButton, 0, Qt::AlignHCenter);
    connect(homeButton, &QPushButton::clicked, this, [] { openUrl(WebAddress::homePage()); });

    column->addSpacing(12);
    auto *caption = new QLabel(QStringLiteral("Open-source components"), content);
    caption->setObjectName(QStringLiteral("lblSectionTitle"));
    column->addWidget(caption);
    auto *list = new QLabel(components().join(QLatin1Char('\n')), content);
    list->setObjectName(QStringLiteral("lblComponents"));
    list->setWordWrap(true);
    list->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(list);
    auto *fontLicence = new QPushButton(QStringLiteral("Read the font licence (OFL)"), content);
    fontLicence->setObjectName(QStringLiteral("btnFontLicence"));
    fontLicence->setCursor(Qt::PointingHandCursor);
    column->addWidget(fontLicence, 0, Qt::AlignLeft);
    connect(fontLicence, &QPushButton::clicked, this, &AboutUsPage::showFontLicence);
    column->addStretch();

    scroll->setWidget(content);
    // setWidget() gives the content the window colour; the page shows through instead.
    content->setAutoFillBackground(false);
    body()->addWidget(scroll, 1);
    connect(backButton(), &QPushButton::pressed, this, &AboutUsPage::clickBack);
}

QStringList AboutUsPage::components()
{
    return {QStringLiteral("Qt 5: GNU LGPL 3"),
            QStringLiteral("GnuTLS: GNU LGPL 2.1 or later"),
            QStringLiteral("libopenconnect (OpenConnect): GNU LGPL 2.1"),
            QStringLiteral("OpenVPN: GNU GPL 2"),
            QStringLiteral("V2Ray: MIT License"),
            QStringLiteral("Xray, where installed: Mozilla Public License 2.0"),
            QStringLiteral("WireGuard tools: GNU GPL 2; wireguard-go: MIT License"),
            QStringLiteral("shadowsocks-libev (Outline tunnel): GNU GPL 3 or later"),
            QStringLiteral("nftables: GNU GPL 2"),
            QStringLiteral("Montserrat fonts: SIL Open Font License 1.1")};
}

void AboutUsPage::showFontLicence()
{
    QFile file(QStringLiteral(":/assets/fonts/OFL.txt"));
    QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                                  : QStringLiteral("SIL Open Font License 1.1");
    auto *dialog = new QDialog(window());
    dialog->setObjectName(QStringLiteral("licenceDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Montserrat font licence"));
    dialog->resize(560, 480);
    auto *column = new QVBoxLayout(dialog);
    auto *view = new QPlainTextEdit(text, dialog);
    view->setReadOnly(true);
    column->addWidget(view);
    auto *close = new QPushButton(QStringLiteral("Close"), dialog);
    close->setObjectName(QStringLiteral("btnCloseLicence"));
    column->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, dialog, &QDialog::close);
    dialog->show();
}

} // namespace Tavrix
