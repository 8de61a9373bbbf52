#pragma once

#include "link/PortDiscovery.h"

#include <QString>

#include <optional>
#include <vector>

namespace tessor {

// Where the device of COMn comes from, strongest first.
enum class ComSource { Environment, Stored, Default };

ComSource ComSourceOf(int n);
// The device COMn opens: TESSOR_COMn, else the setting Ports/COMn, else the system's own device.
QString ComDevice(int n);
// What COMn means with nothing set: /dev/ttyS(n-1) on Linux, COMn on Windows.
QString DefaultComDevice(int n);
// The environment variable that overrides COMn's device ("TESSOR_COM1").
QString ComVariable(int n);

// One line saying what COMn opens: "COM1 = FTDI FT232R USB UART, /dev/serial/by-id/...",
// "COM1 = /dev/ttyS0: no such device", or for a device the user may not open the group to join.
QString ComDeviceLine(int n, const std::vector<SerialPortInfo>& ports,
                      const std::optional<OpenerIdentity>& identity = std::nullopt);
// What to do about that line's device, for its tool tip; empty when the device is ready.
QString ComDeviceAdvice(int n, const std::vector<SerialPortInfo>& ports,
                        const std::optional<OpenerIdentity>& identity = std::nullopt);

} // namespace tessor
