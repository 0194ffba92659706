// scripts/check-layering on a copy of src/: the real tree passes, and each include that runs
// against the folders' order (a lower folder reaching up, or a peer across) is refused again.

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include "netns.h"
#include "testmain.h"

class TestLayering : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void includes_data();
    void includes();

private:
    QTemporaryDir m_copy;
};

void TestLayering::initTestCase()
{
    const QString top = qEnvironmentVariable("TAVRIX_SOURCE_DIR");
    QVERIFY2(QFileInfo::exists(top + QStringLiteral("/scripts/check-layering")), "TAVRIX_SOURCE_DIR is not set");
    QVERIFY(QDir().mkpath(m_copy.filePath(QStringLiteral("scripts"))));
    QVERIFY(QFile::copy(top + QStringLiteral("/scripts/check-layering"),
                        m_copy.filePath(QStringLiteral("scripts/check-layering"))));
    QDirIterator files(top + QStringLiteral("/src"), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = files.next();
        const QString target = m_copy.filePath(QStringLiteral("src/") + QDir(top + "/src").relativeFilePath(source));
        QDir().mkpath(QFileInfo(target).path());
        QVERIFY(QFile::copy(source, target));
    }
}

void TestLayering::includes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("include");
    QTest::addColumn<bool>("refused");
    QTest::newRow("the tree as it is") << QString() << QString() << false;
    QTest::newRow("a page reaches into start-up") << "ui/mainwindow.cpp"
                                                  << "app/startup.h" << true;
    QTest::newRow("a link helper reaches the controller") << "common/weblink.cpp"
                                                          << "vpn/openconnectconnection.h" << true;
    QTest::newRow("an engine runner reaches the service API") << "vpn/wireguard.cpp"
                                                              << "api/apirequest.h" << true;
    QTest::newRow("the platform reaches the log") << "platform/paths_linux.cpp"
                                                  << "log/logger.h" << true;
    QTest::newRow("the log stands on the platform") << "log/logger.cpp"
                                                    << "platform/paths.h" << false;
}

void TestLayering::includes()
{
    QFETCH(QString, file);
    QFETCH(QString, include);
    QFETCH(bool, refused);
    QFile source(m_copy.filePath(QStringLiteral("src/") + file));
    QByteArray original;
    if (!file.isEmpty()) {
        QVERIFY(source.open(QIODevice::ReadWrite));
        original = source.readAll();
        source.write("#include \"" + include.toLatin1() + "\"\n");
        source.close();
    }
    QByteArray output;
    const int code = TavrixTest::runProgram(m_copy.filePath(QStringLiteral("scripts/check-layering")), {}, &output);
    if (!file.isEmpty()) {
        QVERIFY(source.open(QIODevice::WriteOnly | QIODevice::Truncate));
        source.write(original);
        source.close();
    }
    QCOMPARE(code, refused ? 1 : 0);
    QCOMPARE(output.contains(file.toLatin1() + ':'), refused && !file.isEmpty());
}

TAVRIX_TEST_MAIN_CORE(TestLayering)

#include "tst_layering.moc"
