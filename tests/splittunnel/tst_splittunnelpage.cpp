// The split-tunnel page and row as a user meets them: which programs are listed, one row per
// name, rows moving between the tabs with the stored choice following, and what is handed to
// the system (observed, never run).

#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "common/config.h"
#include "platform/splitter.h"
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
    void listedPrograms();
    void pathIsCutAtSixty_data();
    void pathIsCutAtSixty();
    void rowsMoveAndTheChoiceFollows();
    void switchRowTogglesTheFeature();

private:
    QString install(const QString &program, const QString &name, const QString &exec, const QString &extra = {});

    QTemporaryDir m_apps;
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

// A program in a folder of its own with a desktop entry that starts `exec` (the program's
// path stands for %1), as an installed application would be; without a name, no entry.
QString TestSplitTunnelPage::install(const QString &program, const QString &name, const QString &exec,
                                     const QString &extra)
{
    const QString path = m_apps.path() + QLatin1Char('/') + program;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    if (name.isEmpty())
        return path;
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/applications");
    QDir().mkpath(folder);
    QFile entry(folder + QLatin1Char('/') + QString(name).remove(QLatin1Char(' ')) + QStringLiteral(".desktop"));
    if (entry.open(QIODevice::WriteOnly | QIODevice::Truncate))
        entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nIcon=%2\nExec=%3\n%4")
                        .arg(name, QString(name).toLower(), exec.arg(path), extra)
                        .toUtf8());
    return path;
}

void TestSplitTunnelPage::listedPrograms()
{
    // A start script beside the real program, as office suites have it.
    const QString office = install("office/program/soffice", "Office Writer", "\"%1\" --writer %U");
    const QString officeBin = office + QStringLiteral(".bin");
    install("office/program/soffice.bin", QString(), QString());
    const QString viewer = install("viewer/image-viewer", "Viewer", "env LANG=C %1 %f");
    const QString hidden = install("helper/helper", "Helper", "%1", "NoDisplay=true\n");
    // An entry that runs a shell never makes the shell an application.
    install("shellthing/run", "Shell Thing", "sh -c \"%1 --x\"");
    const QString interpreter = QStandardPaths::findExecutable(QStringLiteral("python3"));

    QStringList running{"/bin/bash",     "/usr/bin/sleep", "/usr/bin/timeout", "/usr/bin/su",
                        "/usr/bin/dash", "/usr/bin/Xvfb",  officeBin,          viewer,
                        hidden,          viewer,           "/home/u/bin/tool", "/usr/lib/x/y"};
    if (!interpreter.isEmpty())
        running << QFileInfo(interpreter).canonicalFilePath();
    QStringList listed;
    for (const Splitter::Application &application : SplitTunnelControl::listableApplications(running))
        listed << application.name + QLatin1Char('|') + application.iconName + QLatin1Char('|') +
                      Splitter::selectionName(application.path);
    // Chosen by the whole program file name: what the control program compares.
    QCOMPARE(listed, (QStringList{"Office Writer|office writer|soffice.bin", "Viewer|viewer|image-viewer"}));
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
    // Two installed programs named alpha give one row; gamma has no desktop entry.
    QStringList running{install("a1/alpha", "Alpha", "%1"), install("a2/alpha", "Alpha Two", "%1"),
                        install("b/beta", "Beta", "%1"), m_apps.path() + QStringLiteral("/gamma")};
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
    running << install("d/delta", "Delta", "%1");
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
