// The client signed in and idle on a real X server stays under its memory budget. Driven from
// outside, as a user starts it: the real program, a login link, the development service.

#include <QResource>
#include <QtTest>

#include "app/fonts.h"
#include "clientmemory.h"
#include "devservice.h"
#include "testmain.h"

namespace {

// Signed in and idle under Xvfb, at the window size start-up gives the screen.
constexpr double budgetMb = 90.0;

} // namespace

class MemoryTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void signedInIdleUnderBudget_data();
    void signedInIdleUnderBudget();
    void fontsUsedFromTheProgramsOwnData();

private:
    TavrixTest::DevService m_service;
};

void MemoryTest::initTestCase()
{
    QVERIFY(QFileInfo::exists(TavrixTest::SignedInClient::program()));
    QVERIFY(m_service.start());
}

void MemoryTest::signedInIdleUnderBudget_data()
{
    QTest::addColumn<QString>("screen");
    QTest::newRow("1280x1024") << QStringLiteral("1280x1024");
    QTest::newRow("1920x1080") << QStringLiteral("1920x1080");
}

void MemoryTest::signedInIdleUnderBudget()
{
    QFETCH(QString, screen);
    if (!TavrixTest::XServer::available())
        QSKIP("Xvfb is not installed");
    TavrixTest::XServer x;
    QVERIFY2(x.start(screen), "Xvfb did not start");
    TavrixTest::SignedInClient client;
    QVERIFY2(client.start(m_service, x.display()), client.log().right(3000).constData());
    // The hub, its pages and the account's pictures settle, the public address comes back.
    client.idle(4000);
    const double rss = client.residentMb();
    const QByteArray log = client.log();
    qInfo("%s: %.1f MB signed in and idle", qPrintable(screen), rss);

    // Still the whole client: the fonts from the program's own data, on the X server, signed in.
    QVERIFY2(log.contains("Font loading complete: 18 succeeded, 0 failed"), log.right(3000).constData());
    QVERIFY2(!log.contains("Could not connect to display"), log.right(3000).constData());
    QVERIFY(rss > 20);
    QVERIFY2(rss < budgetMb, qPrintable(QStringLiteral("%1 MB resident, budget %2 MB").arg(rss).arg(budgetMb)));
}

// A compressed font resource would still load, through a heap copy of every face (6 MB).
void MemoryTest::fontsUsedFromTheProgramsOwnData()
{
    for (const QString &path : Tavrix::applicationFontPaths()) {
        const QResource resource(path);
        QVERIFY2(resource.isValid(), qPrintable(path));
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        const QByteArray data = Tavrix::applicationFontData(path);
        QCOMPARE(qint64(data.size()), resource.size());
        QCOMPARE(static_cast<const void *>(data.constData()), static_cast<const void *>(resource.data()));
    }
}

TAVRIX_TEST_MAIN_CORE(MemoryTest)
#include "tst_memory.moc"
