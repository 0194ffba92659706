#pragma once

// Test entry points. Every test process gets its own empty XDG folders, so the settings
// file, the engine folder and the banner cache never touch the user's real ones, and the
// application identity the client sets at start-up.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace TavrixTest {

// Creates the folders and points XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and
// XDG_RUNTIME_DIR at them. Call before anything reads QSettings or QStandardPaths.
inline QTemporaryDir &isolateXdg()
{
    static QTemporaryDir root;
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString sub = root.path() + QLatin1Char('/') + QString::fromLatin1(name).toLower();
        QDir().mkpath(sub);
        qputenv(name, sub.toLocal8Bit());
    }
    const QString runtime = root.path() + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    // The desktop's settings (the system proxy among them) stay in this process's memory.
    qputenv("GSETTINGS_BACKEND", "memory");
    return root;
}

inline void setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("TavrixVPN"));
    QCoreApplication::setApplicationVersion(QStringLiteral("5.6.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quennark"));
}

} // namespace TavrixTest

#define TAVRIX_TEST_MAIN_IMPL(AppClass, TestObject)                                                                    \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        TavrixTest::isolateXdg();                                                                                      \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                            \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                                   \
        TavrixTest::setIdentity();                                                                                     \
        AppClass app(argc, argv);                                                                                      \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }

// Core tests: no widgets. Widget tests include testmain_gui.h.
#define TAVRIX_TEST_MAIN_CORE(TestObject) TAVRIX_TEST_MAIN_IMPL(QCoreApplication, TestObject)
