// The split-tunnel page and row as a user meets them: which programs are listed, one row per
// name, rows moving between the tabs with the stored choice following, and what is handed to
// the system (observed, never run).

#include <QLabel>
#include <QtTest>

#include "common/config.h"
#include "protection/splittunnelcontrol.h"
#include "testmain_gui.h"
#include "ui/splittunnel.h"
#include "ui/splittunnelpage.h"
#include "ui/splittunnelwidget.h"

using namespace Tavrix;

class TestSplitTunnelPage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void listedPrograms_data();
    void listedPrograms();
    void pathIsCutAtSixty_data();
    void pathIsCutAtSixty();
    void rowsMoveAndTheChoiceFollows();
    void switchRowTogglesTheFeature();

private:
    QStringList m_applied;
    int m_applications = 0;
};

void TestSplitTunnelPage::init()
{
    m_applied.clear();
    m_applications = 0;
    SplitTunnelControl::setApplyObserver([this](const QStringList &names) {
        m_applied = names;
        ++m_applications;
    });
}

void TestSplitTunnelPage::listedPrograms_data()
{
    QTest::addColumn<QStringList>("running");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("installed folders") << QStringList{"/usr/bin/firefox", "/opt/app/app", "/usr/lib/x/y", "/snap/a/b"}
                                       << QStringList{"/usr/bin/firefox", "/opt/app/app", "/usr/lib/x/y", "/snap/a/b"};
    QTest::newRow("outside the folders") << QStringList{"/home/u/bin/tool", "/tmp/x", "/bin/bash", "/usr/sbin/sshd"}
                                         << QStringList{};
    QTest::newRow("service in any case") << QStringList{"/usr/lib/a-Service/x", "/usr/bin/myservice", "/opt/SERVICE"}
                                         << QStringList{};
    QTest::newRow("unique paths") << QStringList{"/usr/bin/a", "/usr/bin/a", "/usr/bin/b"}
                                  << QStringList{"/usr/bin/a", "/usr/bin/b"};
}

void TestSplitTunnelPage::listedPrograms()
{
    QFETCH(QStringList, running);
    QFETCH(QStringList, listed);
    QCOMPARE(SplitTunnelControl::listableApplications(running), listed);
}

void TestSplitTunnelPage::pathIsCutAtSixty_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("shownEnd");
    QTest::newRow("59 kept") << 59 << "x";
    QTest::newRow("60 cut") << 60 << "x...";
    QTest::newRow("200 cut") << 200 << "x...";
}

void TestSplitTunnelPage::pathIsCutAtSixty()
{
    QFETCH(int, length);
    QFETCH(QString, shownEnd);
    const QString path = QStringLiteral("/usr/bin/") + QString(length - 9, QLatin1Char('x'));
    const QString shown = SplitTunnelControl::displayPath(path);
    QVERIFY(shown.endsWith(shownEnd));
    QCOMPARE(shown.size(), length >= 60 ? 63 : length);
}

void TestSplitTunnelPage::rowsMoveAndTheChoiceFollows()
{
    Config::setSplitTunnelApp(QStringLiteral("beta"), true);
    Config::setClickedProcesses({QStringLiteral("beta")});
    QStringList running{"/usr/bin/alpha", "/usr/lib/other/alpha", "/usr/bin/beta", "/home/me/gamma"};
    SplitTunnelPage::setProgramSource([&running] { return running; });

    SplitTunnelPage page;
    page.resize(700, 600);
    page.show();
    auto rowsIn = [&page](const char *list) {
        QStringList names;
        for (auto *row : page.findChild<QWidget *>(QLatin1String(list))->findChildren<SplitTunnelWidget *>())
            names << row->processName();
        names.sort();
        return names;
    };
    QTRY_COMPARE(rowsIn("allowedApps"), QStringList{"alpha"});
    QCOMPARE(rowsIn("disallowedApps"), QStringList{"beta"});

    // A click moves alpha to the bypassing apps and hands the new choice over at once.
    auto *alpha = page.findChild<QWidget *>(QStringLiteral("allowedApps"))->findChild<SplitTunnelWidget *>();
    QTest::mouseClick(alpha, Qt::LeftButton);
    QCOMPARE(rowsIn("allowedApps"), QStringList{});
    QCOMPARE(rowsIn("disallowedApps"), (QStringList{"alpha", "beta"}));
    QCOMPARE(Config::clickedProcesses(), (QStringList{"beta", "alpha"}));
    QVERIFY(Config::splitTunnelApp(QStringLiteral("alpha")));
    QVERIFY(SplitTunnelControl::waitForIdle(5000));
    QCOMPARE(m_applied, (QStringList{"beta", "alpha"}));

    // Shown again: only programs not listed before get rows; alpha stays where it is.
    running << QStringLiteral("/usr/bin/delta");
    page.hide();
    page.show();
    QTRY_COMPARE(rowsIn("allowedApps"), QStringList{"delta"});
    QCOMPARE(rowsIn("disallowedApps"), (QStringList{"alpha", "beta"}));

    // Back out of the bypass list: every occurrence leaves the stored choice.
    alpha = nullptr;
    for (auto *row : page.findChildren<SplitTunnelWidget *>())
        if (row->processName() == QLatin1String("beta"))
            QTest::mouseClick(row, Qt::LeftButton);
    QCOMPARE(Config::clickedProcesses(), QStringList{"alpha"});

    // With the feature off, applying the stored choice hands over nothing at all.
    Config::setSplitTunnelEnabled(false);
    page.connectSplitTunnel();
    QVERIFY(SplitTunnelControl::waitForIdle(5000));
    QCOMPARE(m_applied, QStringList{});
    Config::setSplitTunnelEnabled(true);
    page.connectSplitTunnel();
    QVERIFY(SplitTunnelControl::waitForIdle(5000));
    QCOMPARE(m_applied, QStringList{"alpha"});
    SplitTunnelPage::setProgramSource(nullptr);
}

void TestSplitTunnelPage::switchRowTogglesTheFeature()
{
    Config::setSplitTunnelEnabled(false);
    SplitTunnel row;
    QSignalSpy clicked(&row, &SplitTunnel::clicked);
    QSignalSpy on(&row, &SplitTunnel::splitTunnelOn);
    QSignalSpy off(&row, &SplitTunnel::splitTunnelOff);
    QTest::mouseClick(&row, Qt::LeftButton);
    QVERIFY(Config::isSplitTunnelEnabled());
    QTest::mouseClick(&row, Qt::LeftButton);
    QVERIFY(!Config::isSplitTunnelEnabled());
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(on.count(), 1);
    QCOMPARE(off.count(), 1);
}

TAVRIX_TEST_MAIN_GUI(TestSplitTunnelPage)
#include "tst_splittunnelpage.moc"
