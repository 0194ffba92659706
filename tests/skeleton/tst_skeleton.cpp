#include <QStandardPaths>

#include "testmain.h"

class SkeletonTest : public QObject
{
    Q_OBJECT
private slots:
    void settingsGoToTheIsolatedFolder()
    {
        QVERIFY(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                    .startsWith(TavrixTest::isolateXdg().path()));
    }
};

TAVRIX_TEST_MAIN_CORE(SkeletonTest)
#include "tst_skeleton.moc"
