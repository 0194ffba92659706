#pragma once

// The privileged helper for a benchmark's --helper run (helperlab.h: a private bus, polkitd
// and the helper). The client finds it on that bus, as a user's client finds the system bus.

#include <QCoreApplication>

#include <memory>

#include "helperlab.h"

namespace TavrixBench {

// Null, with *error set, when it did not start. Needs TAVRIX_SOURCE_DIR defined at build time.
inline std::unique_ptr<TavrixTest::HelperLab> startHelper(TavrixTest::NetnsLab &lab, QString *error)
{
    if (qEnvironmentVariableIsEmpty("TAVRIX_BIN_DIR"))
        qputenv("TAVRIX_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("TAVRIX_SOURCE_DIR"))
        qputenv("TAVRIX_SOURCE_DIR", TAVRIX_SOURCE_DIR);
    auto helper = std::make_unique<TavrixTest::HelperLab>(lab);
    if (!helper->start(error))
        return nullptr;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", helper->busAddress().toLocal8Bit());
    return helper;
}

} // namespace TavrixBench
