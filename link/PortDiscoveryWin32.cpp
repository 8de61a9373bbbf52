// Device discovery on Windows: the COM ports the system knows (its DOS device names COM1..COM255).
#include "link/PortDiscovery.h"
#include "link/Win32SerialDevice.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <vector>

namespace tessor {

namespace {

// "COM4" for "COM4", "COM4:" or "\\.\COM4"; any other name as it is.
std::string PortName(const std::string& path) {
    const std::string device = Win32DevicePath(path);
    const std::string prefix = "\\\\.\\";
    return device.compare(0, prefix.size(), prefix) == 0 ? device.substr(prefix.size()) : device;
}

} // namespace

std::vector<SerialPortInfo> DiscoverSerialPorts(const DiscoveryOptions&) {
    std::vector<SerialPortInfo> ports;
    std::vector<char> target(1024);
    for (int n = 1; n <= 255; ++n) {
        const std::string name = "COM" + std::to_string(n);
        const DWORD length =
            ::QueryDosDeviceA(name.c_str(), target.data(), static_cast<DWORD>(target.size()));
        if (length == 0)
            continue;
        SerialPortInfo port;
        port.kernelName = name;
        port.devicePath = name;
        port.driver = target.data(); // the system's device behind the name, e.g. \Device\Serial0
        port.nodePresent = true;
        port.mayOpen = true; // whether another program has it open shows only when opening
        ports.push_back(port);
    }
    return ports;
}

DiscoveryOptions DefaultDiscoveryOptions() {
    return DiscoveryOptions();
}

DeviceCheck CheckDevice(const std::string& path, const std::vector<SerialPortInfo>& ports,
                        const std::optional<OpenerIdentity>&) {
    DeviceCheck check;
    const std::string name = PortName(path);
    for (const SerialPortInfo& port : ports) {
        if (port.devicePath == name) {
            check.port = port;
            check.state = DeviceCheck::State::Ready;
            return check;
        }
    }
    check.error = ENOENT;
    check.state = DeviceCheck::State::Missing;
    return check;
}

std::string OwningGroup(const std::string&) {
    return std::string();
}

} // namespace tessor
