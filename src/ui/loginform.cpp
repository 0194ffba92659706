#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/authbuttons.h"
#include "ui/brand.h"
#include "ui/loginpage.h"
#include "ui/signuplabelbutton.h"

// The widgets of the sign-in page. Frames, lines and the check box take their looks from
// style.qss by object name; looks with a font weight stay with Brand, because the
// application sheet evens out every weight it holds.
namespace Tavrix {

namespace {
QLabel *iconLabel(const char *name, const QString &path, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setFixedSize(18, 18);
    label->setScaledContents(true);
    label->setPixmap(QPixmap(path));
    return label;
}

QLineEdit *lineEdit(const char *name, const QString &placeholder, bool secret, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setPlaceholderText(placeholder);
    edit->setAccessibleName(placeholder);
    Brand::setLook(edit, "formField");
    Brand::mutePlaceholder(edit);
    if (secret)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

// A rounded input row: optional icon, the field, optional trailing icon.
QFrame *inputRow(const char *name, QWidget *parent)
{
    auto *row = new QFrame(parent);
    row->setObjectName(QLatin1String(name));
    row->setFixedHeight(44);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(16, 0, 16, 0);
    layout->setSpacing(10);
    return row;
}
} // namespace

void LoginPage::buildForm()
{
    setObjectName(QStringLiteral("Tavrix__LoginPage"));
    setAttribute(Qt::WA_StyledBackground);

    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(28, 18, 36, 14);
    outer->setSpacing(36);

    m_sideImage = new QLabel(this);
    m_sideImage->setObjectName(QStringLiteral("lblLoginSideImage"));
    m_sideImage->setAlignment(Qt::AlignCenter);
    m_sideImage->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    scaleSideImage(QSize(320, 380));
    // Picture and form stay together in the middle of a large window.
    outer->addStretch(1);
    outer->addWidget(m_sideImage, 0, Qt::AlignVCenter);

    auto *formHolder = new QWidget(this);
    formHolder->setObjectName(QStringLiteral("formWidget"));
    formHolder->setMaximumWidth(440);
    auto *form = new QVBoxLayout(formHolder);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(10);
    outer->addWidget(formHolder, 0, Qt::AlignVCenter);
    outer->addStretch(1);
    m_formHolder = formHolder;

    m_topLabelWidget = new QWidget(formHolder);
    m_topLabelWidget->setObjectName(QStringLiteral("TopLebelWidget"));
    auto *top = new QVBoxLayout(m_topLabelWidget);
    top->setContentsMargins(0, 0, 0, 6);
    m_header = new SignUpLabelButton(m_topLabelWidget);
    m_header->setObjectName(QStringLiteral("signUpLabelButton"));
    top->addWidget(m_header);
    form->addWidget(m_topLabelWidget);

    buildServiceNotice(formHolder, form);
    buildFields(formHolder, form);
    buildSocial(formHolder, form);

    m_appVersion = new QLabel(QStringLiteral("Version: ") + QCoreApplication::applicationVersion(), formHolder);
    m_appVersion->setObjectName(QStringLiteral("appVersion"));
    m_appVersion->setAlignment(Qt::AlignCenter);
    form->addWidget(m_appVersion);

    m_passwordSuffix->installEventFilter(this);
    m_confirmSuffix->installEventFilter(this);
}

void LoginPage::buildServiceNotice(QWidget *formHolder, QVBoxLayout *form)
{
    // Shown only while the service's configuration is being fetched or could not be had.
    m_serviceNotice = new QFrame(formHolder);
    m_serviceNotice->setObjectName(QStringLiteral("serviceNotice"));
    auto *noticeRow = new QHBoxLayout(m_serviceNotice);
    noticeRow->setContentsMargins(12, 6, 8, 6);
    noticeRow->setSpacing(8);
    m_serviceText = new QLabel(m_serviceNotice);
    m_serviceText->setObjectName(QStringLiteral("lblServiceNotice"));
    m_serviceText->setWordWrap(true);
    m_btnRetry = new QPushButton(QStringLiteral("Retry"), m_serviceNotice);
    m_btnRetry->setObjectName(QStringLiteral("btnRetry"));
    m_btnRetry->setCursor(Qt::PointingHandCursor);
    m_btnRetry->setAutoDefault(false);
    m_btnRetry->setMinimumSize(72, 30);
    Brand::setLook(m_btnRetry, "outlined");
    noticeRow->addWidget(m_serviceText, 1);
    noticeRow->addWidget(m_btnRetry, 0, Qt::AlignVCenter);
    m_serviceNotice->hide();
    form->addWidget(m_serviceNotice);
    connect(m_btnRetry, &QPushButton::clicked, this, &LoginPage::retryServiceClicked);
}

void LoginPage::buildFields(QWidget *formHolder, QVBoxLayout *form)
{
    auto *userRow = inputRow("usernameWidget", formHolder);
    userRow->layout()->addWidget(
        iconLabel("lblUsernamePrefixIcon", QStringLiteral(":/assets/icon_profile.png"), userRow));
    m_editUsername = lineEdit("editUsername", QStringLiteral("Your User ID"), false, userRow);
    userRow->layout()->addWidget(m_editUsername);
    form->addWidget(userRow);

    m_passwordWidget = inputRow("passwordWidget", formHolder);
    m_passwordPrefix = iconLabel("editPasswordPrefixIcon", QStringLiteral(":/assets/key.png"), m_passwordWidget);
    m_editPassword = lineEdit("editPassword", QStringLiteral("Password"), true, m_passwordWidget);
    m_passwordSuffix = iconLabel("lblPasswordSuffixIcon", QStringLiteral(":/assets/show.png"), m_passwordWidget);
    m_passwordSuffix->setCursor(Qt::PointingHandCursor);
    m_passwordSuffix->setToolTip(QStringLiteral("Hold to show the password"));
    m_passwordWidget->layout()->addWidget(m_passwordPrefix);
    m_passwordWidget->layout()->addWidget(m_editPassword);
    m_passwordWidget->layout()->addWidget(m_passwordSuffix);
    form->addWidget(m_passwordWidget);

    m_confirmPasswordWidget = inputRow("confirmPasswordWidget", formHolder);
    m_confirmPrefix =
        iconLabel("lblConfirmPasswordPrefixIcon", QStringLiteral(":/assets/key.png"), m_confirmPasswordWidget);
    m_editConfirmPassword =
        lineEdit("editConfirmPassword", QStringLiteral("Confirm Password"), true, m_confirmPasswordWidget);
    m_confirmSuffix =
        iconLabel("lblPasswordSuffixIcon_2", QStringLiteral(":/assets/show.png"), m_confirmPasswordWidget);
    m_confirmSuffix->setCursor(Qt::PointingHandCursor);
    m_confirmSuffix->setToolTip(QStringLiteral("Hold to show the password"));
    m_confirmPasswordWidget->layout()->addWidget(m_confirmPrefix);
    m_confirmPasswordWidget->layout()->addWidget(m_editConfirmPassword);
    m_confirmPasswordWidget->layout()->addWidget(m_confirmSuffix);
    form->addWidget(m_confirmPasswordWidget);

    auto *divider = new QLabel(formHolder);
    divider->setObjectName(QStringLiteral("lblDivder"));
    divider->setFixedHeight(1);
    m_divider = divider;
    form->addWidget(m_divider);

    m_subscriptionCodeWidget = inputRow("subscriptionCodeWidget", formHolder);
    m_editSubscription =
        lineEdit("editSubscription", QStringLiteral("Subscription Code (Optional)"), false, m_subscriptionCodeWidget);
    // Lines the text up with the fields that have an icon.
    m_subscriptionCodeWidget->layout()->setContentsMargins(44, 0, 16, 0);
    m_subscriptionCodeWidget->layout()->addWidget(m_editSubscription);
    form->addWidget(m_subscriptionCodeWidget);

    m_cbUserConsent =
        new QCheckBox(QStringLiteral("Yes, please keep me updated on Tavrix VPN's latest offer"), formHolder);
    m_cbUserConsent->setObjectName(QStringLiteral("cbUserConsent"));
    m_cbUserConsent->setCursor(Qt::PointingHandCursor);
    form->addWidget(m_cbUserConsent);

    m_btnForgotPassword = new QPushButton(QStringLiteral("Forget your password?"), formHolder);
    m_btnForgotPassword->setObjectName(QStringLiteral("btnForgotPassword"));
    m_btnForgotPassword->setCursor(Qt::PointingHandCursor);
    m_btnForgotPassword->setFlat(true);
    m_btnForgotPassword->setAutoDefault(false);
    Brand::setLook(m_btnForgotPassword, "link");
    form->addWidget(m_btnForgotPassword, 0, Qt::AlignRight);

    m_btnLogin = new QPushButton(formHolder);
    m_btnLogin->setObjectName(QStringLiteral("btnLogin"));
    m_btnLogin->setCursor(Qt::PointingHandCursor);
    m_btnLogin->setAutoDefault(false);
    m_btnLogin->setMinimumHeight(44);
    Brand::setLook(m_btnLogin, "filled");
    form->addWidget(m_btnLogin);
}

void LoginPage::buildSocial(QWidget *formHolder, QVBoxLayout *form)
{
    m_socalAuth = new QWidget(formHolder);
    m_socalAuth->setObjectName(QStringLiteral("socalAuth"));
    auto *social = new QVBoxLayout(m_socalAuth);
    social->setContentsMargins(0, 2, 0, 0);
    social->setSpacing(8);
    auto *orRow = new QHBoxLayout;
    auto lineLeft = new QFrame(m_socalAuth);
    auto lineRight = new QFrame(m_socalAuth);
    for (QFrame *line : {lineLeft, lineRight}) {
        line->setFixedHeight(1);
        line->setProperty("role", QStringLiteral("orLine"));
    }
    auto *orLabel = new QLabel(QStringLiteral("OR"), m_socalAuth);
    orLabel->setObjectName(QStringLiteral("lblOr"));
    orRow->addWidget(lineLeft, 1);
    orRow->addWidget(orLabel);
    orRow->addWidget(lineRight, 1);
    social->addLayout(orRow);
    m_google = new GoogleAuthButton(m_socalAuth);
    m_google->setObjectName(QStringLiteral("googlSignInButton"));
    m_apple = new AppleAuthButton(m_socalAuth);
    m_apple->setObjectName(QStringLiteral("appleSignInButton"));
    m_signUpButton = new SignUpGmailButton(m_socalAuth);
    m_signUpButton->setObjectName(QStringLiteral("SignUpButton"));
    social->addWidget(m_google);
    social->addWidget(m_apple);
    social->addWidget(m_signUpButton);
    form->addWidget(m_socalAuth);
}

void LoginPage::setServiceState(ServiceState state)
{
    m_serviceState = state;
    switch (state) {
    case ServiceReachable:
        m_serviceNotice->hide();
        return;
    case ServiceConnecting:
        m_serviceText->setText(QStringLiteral("Connecting to the service…"));
        m_btnRetry->hide();
        break;
    case ServiceUnreachable:
        m_serviceText->setText(QStringLiteral("Could not reach the service. Check your internet connection."));
        m_btnRetry->show();
        break;
    }
    m_serviceNotice->show();
}

void LoginPage::scaleSideImage(const QSize &box)
{
    const QPixmap picture = Brand::uncachedPixmap(QStringLiteral(":/assets/loginSideImage.png"));
    if (picture.isNull())
        return;
    m_sideImage->setPixmap(picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_sideImage->setFixedSize(m_sideImage->pixmap(Qt::ReturnByValue).size());
}

void LoginPage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The picture gives way to the form on small windows: the form keeps about 440 px.
    const QMargins margins = layout()->contentsMargins();
    const int spare = width() - margins.left() - margins.right() - layout()->spacing() - 440;
    const int imageWidth = qMin(320, spare);
    const int room = width() - margins.left() - margins.right();
    if (imageWidth < 160) {
        m_sideImage->hide();
        m_formHolder->setFixedWidth(qBound(200, room, 440));
        return;
    }
    const int imageHeight = qMin(imageWidth * 380 / 320, height() - margins.top() - margins.bottom());
    scaleSideImage(QSize(imageWidth, imageHeight));
    m_sideImage->show();
    m_formHolder->setFixedWidth(qBound(200, room - m_sideImage->width() - layout()->spacing(), 440));
}

} // namespace Tavrix
