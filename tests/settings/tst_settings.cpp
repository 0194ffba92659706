// The settings page and the kill switch behind it, offscreen: protocol and general choices,
// auto connect, the kill switch with stand-in firewall scripts, and the menu entries the
// kill switch holds back.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>

#include "common/config.h"
#include "platform/firewallscripts.h"
#include "platform/paths.h"
#include "protection/killswitch.h"
#include "testmain_gui.h"
#include "ui/dbox.h"
#include "ui/menuitems.h"
#include "ui/menupage.h"
#include "ui/settingitems.h"
#include "ui/settingpage.h"
#include "vpn/openconnectconnection.h"

using namespace Tavrix;
using Status = OpenConnectConnection::Status;

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void showingSyncsAndExpands();
    void protocolChoice_data();
    void protocolChoice();
    void generalChoiceNeverPrompts();
    void autoConnect_data();
    void autoConnect();
    void killSwitchClickOwnerOnlyStatus_departsFromWorldWritable_data();
    void killSwitchClickOwnerOnlyStatus_departsFromWorldWritable();
    void gatedMenuEntries_data();
    void gatedMenuEntries();

private:
    void answerNextBox(bool submit);
    void setControllerStatus(Status status);
    void writeScripts(int exitCode);
    QStringList scriptRuns() const;
    static void click(QWidget *widget) { QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(5, 5)); }

    QTimer m_boxAnswerer;
    bool m_answerSubmit = true;
    QStringList m_boxTitles;
    QString m_scriptDir;
    QString m_runLog;
};

void SettingsTest::initTestCase()
{
    m_scriptDir = engineFolder() + QStringLiteral("scripts");
    m_runLog = engineFolder() + QStringLiteral("script-runs.log");
    QDir().mkpath(m_scriptDir);
    setFirewallScriptFolderForTesting(m_scriptDir);
    m_boxAnswerer.setInterval(20);
    connect(&m_boxAnswerer, &QTimer::timeout, this, [this] {
        auto *box = qobject_cast<DBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        m_boxAnswerer.stop();
        m_boxTitles << box->findChild<QLabel *>(QStringLiteral("lblTitle"))->text();
        QTest::mouseClick(
            box->findChild<QPushButton *>(m_answerSubmit ? QStringLiteral("btnSubmit") : QStringLiteral("btnCancel")),
            Qt::LeftButton);
    });
}

void SettingsTest::init()
{
    m_boxTitles.clear();
    QFile::remove(m_runLog);
    QFile::remove(KillSwitch::statusFilePath());
    writeScripts(0);
    auto config = Config::instance();
    config->load();
    config->setProtocol(0);
    config->setServerButton(true);
    config->setAutoConncet(false);
    config->setKillSwitch(false);
    config->setConnectionState(false);
    config->save();
    OpenConnectConnection::instance()->setType(OpenConnectConnection::OPENCONNECT);
    setControllerStatus(OpenConnectConnection::IDLE);
}

void SettingsTest::cleanup()
{
    m_boxAnswerer.stop();
    setControllerStatus(OpenConnectConnection::IDLE);
}

void SettingsTest::answerNextBox(bool submit)
{
    m_answerSubmit = submit;
    m_boxAnswerer.start();
}

void SettingsTest::setControllerStatus(Status status)
{
    auto controller = OpenConnectConnection::instance();
    if (controller->status() != status)
        emit controller->statusChanged(status);
    // The controller takes its own status from the queued signal.
    QTRY_COMPARE(controller->status(), status);
}

// Stand-in scripts that note their runs and end with exitCode; exitCode < 0: none at all.
void SettingsTest::writeScripts(int exitCode)
{
    for (const QString &kind : {QStringLiteral("block"), QStringLiteral("reset")}) {
        const QString path = firewallScriptPath(kind == QLatin1String("block"));
        QFile::remove(path);
        if (exitCode < 0)
            continue;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("#!/bin/sh\necho %1 >> '%2'\nexit %3\n").arg(kind, m_runLog).arg(exitCode).toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

QStringList SettingsTest::scriptRuns() const
{
    QFile file(m_runLog);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void SettingsTest::showingSyncsAndExpands()
{
    auto config = Config::instance();
    config->setProtocol(5);
    config->setServerButton(false);
    config->save();
    Config::saveState(1, 0);

    SettingPage page;
    QSignalSpy splitTunnel(&page, &SettingPage::splitTunnelButtonClicked);
    page.resize(420, 700);
    page.show();
    auto *protocol5 = page.findChild<QRadioButton *>(QStringLiteral("radioButtonProtocol5"));
    auto *always = page.findChild<QRadioButton *>(QStringLiteral("AlwaysSelectServerradioButton"));
    QTRY_VERIFY(protocol5->isChecked());
    QVERIFY(always->isChecked());
    QCOMPARE(Config::loadState(), qMakePair(9, 0));
    QCOMPARE(splitTunnel.count(), 1);
    for (const char *hidden : {"protocolToolWidget", "generalToolWidget", "AppCrashReport", "Notification"})
        QVERIFY2(page.findChild<QWidget *>(QLatin1String(hidden))->isHidden(), hidden);

    // Expanders open and close their tool areas.
    auto *tools = page.findChild<QWidget *>(QStringLiteral("protocolToolWidget"));
    auto *expander = page.findChild<SettingExpander *>(QStringLiteral("protocolWidget"));
    click(expander);
    QVERIFY(tools->isVisible() && expander->isOpen());
    click(expander);
    QVERIFY(tools->isHidden() && !expander->isOpen());

    // Stored elsewhere while hidden: the next showing shows it.
    page.hide();
    config->setProtocol(2);
    config->setServerButton(true);
    config->save();
    page.show();
    QTRY_VERIFY(page.findChild<QRadioButton *>(QStringLiteral("radioButtonProtocol2"))->isChecked());
    QVERIFY(!protocol5->isChecked());
    QVERIFY(page.findChild<QRadioButton *>(QStringLiteral("quickAccessradioButton"))->isChecked());
    QCOMPARE(splitTunnel.count(), 2);

    // "Start with the system": the session's autostart entry comes and goes with the switch,
    // starts this program minimized, and a removed entry shows the switch off again.
    const QString entry = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/tavrixvpn.desktop");
    auto *startWithSystem = page.findChild<SettingItem *>(QStringLiteral("startWithSystem"));
    QVERIFY(startWithSystem->isVisible() && !startWithSystem->switchShownOn());
    QVERIFY(!QFile::exists(entry));
    click(startWithSystem);
    QVERIFY(startWithSystem->switchShownOn());
    QFile written(entry);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray text = written.readAll();
    QVERIFY2(text.contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\" --minimized\n"),
             text.constData());
    QVERIFY(text.startsWith("[Desktop Entry]\nType=Application\n"));
    click(startWithSystem);
    QVERIFY(!startWithSystem->switchShownOn());
    QVERIFY(!QFile::exists(entry));
    click(startWithSystem);
    QVERIFY(QFile::remove(entry));
    page.hide();
    page.show();
    QVERIFY(!startWithSystem->switchShownOn());

    // A value outside the table checks none.
    page.hide();
    config->setProtocol(9);
    config->save();
    page.show();
    QTest::qWait(20);
    for (QRadioButton *button : tools->findChildren<QRadioButton *>())
        QVERIFY2(!button->isChecked(), qPrintable(button->objectName()));
}

void SettingsTest::protocolChoice_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("pressed");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("answerDisconnect");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("disconnects");

    QTest::newRow("idle, Protocol 7 stores 7") << 5 << "radioButtonProtocol7" << false << false << 7 << 0;
    QTest::newRow("idle, All stores 0") << 3 << "radioButtonAll" << false << false << 0 << 0;
    QTest::newRow("connected, Skip keeps it") << 2 << "radioButtonProtocol4" << true << false << 2 << 0;
    QTest::newRow("connected, Disconnect VPN keeps it too") << 2 << "radioButtonProtocol6" << true << true << 2 << 1;
}

void SettingsTest::protocolChoice()
{
    QFETCH(int, stored);
    QFETCH(QString, pressed);
    QFETCH(bool, connected);
    QFETCH(bool, answerDisconnect);
    QFETCH(int, expected);
    QFETCH(int, disconnects);

    auto config = Config::instance();
    config->setProtocol(stored);
    config->save();
    SettingPage page;
    page.show();
    click(page.findChild<SettingExpander *>(QStringLiteral("protocolWidget")));
    auto *button = page.findChild<QRadioButton *>(pressed);
    QTRY_VERIFY(page.findChildren<QRadioButton *>().at(stored)->isChecked());
    if (connected)
        setControllerStatus(OpenConnectConnection::CONNECTED);
    QSignalSpy status(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged);

    answerNextBox(answerDisconnect);
    // On the indicator: a radio button takes presses on its indicator and text only.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    QTest::qWait(20);

    QCOMPARE(m_boxTitles,
             connected ? QStringList{QStringLiteral("Please disconnect VPN to switch protocols")} : QStringList());
    config->load();
    QCOMPARE(config->protocol(), expected);
    QVERIFY(page.findChildren<QRadioButton *>().at(expected)->isChecked());
    QCOMPARE(button->isChecked(), expected != stored);
    QCOMPARE(status.count(), disconnects);
}

void SettingsTest::generalChoiceNeverPrompts()
{
    setControllerStatus(OpenConnectConnection::CONNECTED);
    SettingPage page;
    page.show();
    QSignalSpy general(&page, &SettingPage::clickedGeneralButton);
    click(page.findChild<SettingExpander *>(QStringLiteral("generalButton")));
    answerNextBox(false);
    auto config = Config::instance();
    for (bool quick : {false, true, false}) {
        auto *button = page.findChild<QRadioButton *>(quick ? QStringLiteral("quickAccessradioButton")
                                                            : QStringLiteral("AlwaysSelectServerradioButton"));
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
        QVERIFY(button->isChecked());
        config->load();
        QCOMPARE(config->serverButton(), quick);
    }
    QTest::qWait(60);
    QCOMPARE(m_boxTitles, QStringList());
    QCOMPARE(general.count(), 3);
}

void SettingsTest::autoConnect_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<int>("connects");
    QTest::newRow("stored on: first press turns it off") << true << int(OpenConnectConnection::IDLE) << false << 0;
    QTest::newRow("on while idle connects once") << false << int(OpenConnectConnection::IDLE) << true << 1;
    QTest::newRow("on while connected does not connect again")
        << false << int(OpenConnectConnection::CONNECTED) << true << 0;
    // A connect press while connecting would cancel the attempt.
    QTest::newRow("on while connecting leaves the attempt alone (departs)")
        << false << int(OpenConnectConnection::CONNECTING) << true << 0;
}

void SettingsTest::autoConnect()
{
    QFETCH(bool, stored);
    QFETCH(int, status);
    QFETCH(bool, expected);
    QFETCH(int, connects);

    auto config = Config::instance();
    config->setAutoConncet(stored);
    config->setConnectionState(status == OpenConnectConnection::CONNECTED);
    config->save();
    setControllerStatus(Status(status));
    SettingPage page;
    page.show();
    auto *button = page.findChild<SettingAutoConnectButton *>(QStringLiteral("autoConnectButton"));
    QVERIFY(button->switchShownOn() == stored);
    QSignalSpy connect(&page, &SettingPage::autoConnectClicked);
    click(button);
    config->load();
    QCOMPARE(config->autoConncet(), expected);
    QCOMPARE(button->switchShownOn(), expected);
    QCOMPARE(connect.count(), connects);
}

void SettingsTest::killSwitchClickOwnerOnlyStatus_departsFromWorldWritable_data()
{
    QTest::addColumn<bool>("storedOn");
    QTest::addColumn<bool>("tunnelUp");
    QTest::addColumn<int>("scriptExit"); // -1: scripts missing
    QTest::addColumn<QStringList>("runs");

    QTest::newRow("on, no tunnel: blocks now") << false << false << 0 << QStringList{"block"};
    QTest::newRow("stored on (restart): first click turns off and resets")
        << true << false << 0 << QStringList{"reset"};
    QTest::newRow("on with a tunnel: nothing runs now") << false << true << 0 << QStringList();
    QTest::newRow("off with a tunnel: nothing runs now") << true << true << 0 << QStringList();
    // A firewall change that did not happen must not show as done (departs: the design keeps the
    // setting and only logs).
    QTest::newRow("failing script: switch back off with the reason (departs)")
        << false << false << 3 << QStringList{"block"};
    QTest::newRow("missing scripts: switch back off with the reason (departs)")
        << false << false << -1 << QStringList();
}

void SettingsTest::killSwitchClickOwnerOnlyStatus_departsFromWorldWritable()
{
    QFETCH(bool, storedOn);
    QFETCH(bool, tunnelUp);
    QFETCH(int, scriptExit);
    QFETCH(QStringList, runs);

    writeScripts(scriptExit);
    auto config = Config::instance();
    config->setKillSwitch(storedOn);
    config->setConnectionState(tunnelUp);
    config->save();
    SettingPage page;
    page.show();
    auto *item = page.findChild<SettingKillSwitch *>(QStringLiteral("killSwithch"));
    QTRY_COMPARE(item->switchShownOn(), storedOn);

    if (scriptExit < 0)
        QTest::ignoreMessage(QtDebugMsg, "Error: bat file execution timed out or encountered an error.");
    click(item);

    config->load();
    QCOMPARE(config->killSwitch(), !storedOn);
    QCOMPARE(item->switchShownOn(), !storedOn);
    QFile status(KillSwitch::statusFilePath());
    QVERIFY(status.open(QIODevice::ReadOnly));
    QCOMPARE(status.readAll(), QByteArray(storedOn ? KillSwitch::StatusOff : KillSwitch::StatusOn));
    // Only the user may read or change the recorded state (not everyone, as the text-file
    // writer once made it).
    QCOMPARE(status.permissions() &
                 (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther),
             QFileDevice::Permissions());
    // The script runs off the window's thread.
    QVERIFY(KillSwitch::waitForScripts(10000));
    QCOMPARE(scriptRuns(), runs);
    // Then the switch, the setting and the status file show what is in force, and a failure says why.
    const bool failed = scriptExit != 0;
    QTRY_COMPARE(item->switchShownOn(), failed ? storedOn : !storedOn);
    config->load();
    QCOMPARE(config->killSwitch(), failed ? storedOn : !storedOn);
    status.close();
    QVERIFY(status.open(QIODevice::ReadOnly));
    QCOMPARE(status.readAll(),
             QByteArray((failed ? storedOn : !storedOn) ? KillSwitch::StatusOn : KillSwitch::StatusOff));
    auto *box = item->findChild<QDialog *>(QStringLiteral("killSwitchFailedBox"));
    QCOMPARE(box != nullptr, failed);
    if (box) {
        QCOMPARE(box->findChild<QLabel *>(QStringLiteral("lblTitle"))->text(),
                 QStringLiteral("The kill switch could not be changed"));
        if (qEnvironmentVariableIsSet("TAVRIX_SCREENSHOT_DIR"))
            box->grab().save(qEnvironmentVariable("TAVRIX_SCREENSHOT_DIR") + QStringLiteral("/killswitch-failed.png"));
        box->close();
    }
}

void SettingsTest::gatedMenuEntries_data()
{
    QTest::addColumn<bool>("killSwitch");
    QTest::addColumn<bool>("tunnelUp");
    QTest::addColumn<bool>("gated");
    QTest::newRow("switch on, no tunnel: held back") << true << false << true;
    QTest::newRow("switch on, tunnel up: open") << true << true << false;
    QTest::newRow("switch off: open") << false << false << false;
}

void SettingsTest::gatedMenuEntries()
{
    QFETCH(bool, killSwitch);
    QFETCH(bool, tunnelUp);
    QFETCH(bool, gated);

    auto config = Config::instance();
    config->setKillSwitch(killSwitch);
    config->setConnectionState(tunnelUp);
    config->save();
    MenuPage menu;
    QSignalSpy devices(&menu, &MenuPage::deviceButtonClick);
    QSignalSpy voucher(&menu, &MenuPage::redeemVoucherButtonClick);
    QSignalSpy refer(&menu, &MenuPage::referButtonClick);
    QSignalSpy support(&menu, &MenuPage::supportButtonClick);
    for (const char *name : {"deviceButton", "redeemVoucherButton", "referButton", "supportButton"}) {
        answerNextBox(true);
        click(menu.findChild<QWidget *>(QLatin1String(name)));
        QTest::qWait(10);
        m_boxAnswerer.stop();
    }
    const QString text = QStringLiteral("Please Connect the VPN to \nProceed Further.");
    QCOMPARE(m_boxTitles, gated ? (QStringList{text, text, text}) : QStringList());
    QCOMPARE(devices.count() + voucher.count() + refer.count(), gated ? 0 : 3);
    QCOMPARE(support.count(), 1); // pages that need no service stay open
}

TAVRIX_TEST_MAIN_GUI(SettingsTest)

#include "tst_settings.moc"
