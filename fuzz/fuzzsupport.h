#pragma once

// Common set-up of the fuzz targets: a quiet application object with isolated settings, so
// that parsers which log or read settings run as they do in the client.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace TavrixFuzz {

inline void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

inline void setUp()
{
    static int argc = 1;
    static char name[] = "tavrix-fuzz";
    static char *argv[] = {name, nullptr};
    static QTemporaryDir home;
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(variable, home.path().toLocal8Bit());
    qInstallMessageHandler(quiet);
    static QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quennark"));
    QCoreApplication::setApplicationName(QStringLiteral("TavrixVPN"));
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

} // namespace TavrixFuzz

#define TAVRIX_FUZZ_INIT                                                                                               \
    extern "C" int LLVMFuzzerInitialize(int *, char ***)                                                               \
    {                                                                                                                  \
        TavrixFuzz::setUp();                                                                                           \
        return 0;                                                                                                      \
    }
