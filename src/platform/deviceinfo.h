#pragma once

#include <QString>

namespace Tavrix {

// Description of the machine sent with account requests.
namespace DeviceInfo {

struct ComputerSystem
{
    QString manufacturer = QStringLiteral("Unknown");
    QString model = QStringLiteral("Unknown");
};

// Maker and model of the computer, each "Unknown" when it cannot be read. Read once per
// process.
ComputerSystem computerSystem();

// The machine's unique id. When the system has none, a random id is made once and kept in
// the settings, so that the service sees one device across runs.
QString machineId();

} // namespace DeviceInfo
} // namespace Tavrix
