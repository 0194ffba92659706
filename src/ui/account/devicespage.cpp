#include "ui/account/devicespage.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "api/apirequest.h"
#include "common/config.h"
#include "common/user.h"
#include "ui/account/accountanswers.h"
#include "ui/account/accountform.h"
#include "ui/account/accountrequest.h"

namespace Tavrix {

using AccountAnswers::DevicePlatform;

DeviceWidget::DeviceWidget(const QString &model, const QString &osVersion, const QString &appVersion, QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("DeviceWidget"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(14, 8, 14, 8);
    auto *model_ = new QLabel(model, this);
    model_->setObjectName(QStringLiteral("lblModel"));
    // A long model name takes a second line rather than widening the list past the page.
    model_->setWordWrap(true);
    auto *os = new QLabel(osVersion, this);
    os->setObjectName(QStringLiteral("lblOSVersion"));
    auto *left = new QVBoxLayout;
    left->setSpacing(2);
    left->addWidget(model_);
    left->addWidget(os);
    row->addLayout(left, 1);
    auto *app = new QLabel(appVersion, this);
    app->setObjectName(QStringLiteral("lblApVersion"));
    row->addWidget(app, 0, Qt::AlignRight | Qt::AlignVCenter);
}

DevicesPage::DevicesPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Devices"), -1, parent)
    , m_request(new AccountRequest(this))
{
    QVBoxLayout *column = body();
    m_loader = AccountForm::loader(this);
    column->addWidget(m_loader);
    m_empty = AccountForm::text(QStringLiteral("No signed-in devices to show."), "lblEmpty", this);
    m_empty->hide();
    column->addWidget(m_empty);

    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrollArea"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto *content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("devicesContent"));
    auto *groups = new QVBoxLayout(content);
    groups->setContentsMargins(0, 8, 4, 8);
    groups->setSpacing(16);
    // Shown in this order.
    groups->addWidget(makeGroup("appleGroup", QStringLiteral("Apple"), QStringLiteral(":/assets/appel.png"),
                                &m_groups[int(DevicePlatform::Apple)]));
    groups->addWidget(makeGroup("windowsGroup", QStringLiteral("Windows"), QStringLiteral(":/assets/windows.png"),
                                &m_groups[int(DevicePlatform::Windows)]));
    groups->addWidget(makeGroup("androidGroup", QStringLiteral("Android"), QStringLiteral(":/assets/android.png"),
                                &m_groups[int(DevicePlatform::Android)]));
    groups->addWidget(makeGroup("huaweiGroup", QStringLiteral("Huawei"), QStringLiteral(":/assets/huawei.png"),
                                &m_groups[int(DevicePlatform::Huawei)]));
    groups->addWidget(makeGroup("linuxGroup", QStringLiteral("Linux"), QStringLiteral(":/assets/linux.png"),
                                &m_groups[int(DevicePlatform::Linux)]));
    groups->addStretch();
    scroll->setWidget(content);
    // setWidget() gives the content the window colour; the page shows through instead.
    content->setAutoFillBackground(false);
    column->addWidget(scroll, 1);

    connect(backButton(), &QPushButton::pressed, this, &DevicesPage::on_btnBack_pressed);
}

QWidget *DevicesPage::makeGroup(const char *name, const QString &title, const QString &logo, Group *group)
{
    auto *box = new QWidget(this);
    box->setObjectName(QLatin1String(name));
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto *header = new QHBoxLayout;
    auto *picture = AccountForm::picture(logo, 32, box);
    picture->setObjectName(QStringLiteral("lblGroupLogo"));
    auto *caption = new QLabel(title, box);
    caption->setObjectName(QStringLiteral("lblGroupTitle"));
    header->addWidget(picture);
    header->addWidget(caption, 1);
    column->addLayout(header);
    auto *rows = new QVBoxLayout;
    rows->setSpacing(6);
    column->addLayout(rows);
    box->hide();
    group->box = box;
    group->rows = rows;
    return box;
}

void DevicesPage::on_btnBack_pressed()
{
    emit clickBack();
}

void DevicesPage::showEvent(QShowEvent *event)
{
    PlaceholderPage::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            load();
    });
}

void DevicesPage::load()
{
    if (m_request->isBusy())
        return;
    // The page starts empty, so that an old list never passes for the current one.
    User::instance()->setDevices(QJsonArray());
    rebuild();
    m_empty->hide();
    m_loader->show();
    m_request->start(
        m_loader->findChild<QPushButton *>(QStringLiteral("btnloader")),
        [] { return ApiRequest::instance()->loggedDevices(); },
        [this](const AccountRequest::Outcome &outcome) {
            qDebug() << "response::::" << outcome.result;
            m_loader->hide();
            if (outcome.result > 1 && isVisible()) {
                emit clickBack();
                showAnswerBox(outcome.message);
            }
            rebuild();
        });
}

void DevicesPage::rebuild()
{
    for (Group &group : m_groups) {
        group.box->hide();
        while (QLayoutItem *item = group.rows->takeAt(0)) {
            delete item->widget();
            delete item;
        }
    }
    const QVector<AccountAnswers::DeviceRow> rows = AccountAnswers::deviceRows(User::instance()->devices());
    for (const AccountAnswers::DeviceRow &row : rows) {
        Group &group = m_groups[int(row.platform)];
        group.rows->addWidget(new DeviceWidget(row.model, row.osVersion, row.appVersion, group.box));
        group.box->show();
    }
    m_empty->setVisible(rows.isEmpty() && !m_loader->isVisible());
    // Remembered only while the page is really showing (a failed load has already left it).
    if (isVisible() && !m_loader->isVisible())
        Config::saveState(10, 0);
}

} // namespace Tavrix
