// Discovery without udev (containers, test trees): the tty class in sysfs and the links under it.

#include "link/PortDiscoveryDetail.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>

namespace tessor::detail {

namespace {

std::string LinkTargetName(const std::string& link) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return std::string();
    target[n] = '\0';
    const std::string path(target);
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The USB device a tty hangs from: the nearest ancestor with an idVendor attribute.
void AddUsbStrings(std::string dir, const std::string& sysRoot, SerialPortInfo& port) {
    for (; dir.size() > sysRoot.size(); dir = Parent(dir)) {
        if (::access((dir + "/idVendor").c_str(), F_OK) != 0)
            continue;
        port.vendorId = ReadAttribute(dir + "/idVendor");
        port.productId = ReadAttribute(dir + "/idProduct");
        port.manufacturer = ReadAttribute(dir + "/manufacturer");
        port.product = ReadAttribute(dir + "/product");
        port.serialNumber = ReadAttribute(dir + "/serial");
        return;
    }
}

// The driver of the device; through the serial core's port and controller layers to the real one.
std::string DriverOf(std::string dir) {
    while (!dir.empty() && LinkTargetName(dir + "/subsystem") == "serial-base")
        dir = Parent(dir);
    return dir.empty() ? std::string() : LinkTargetName(dir + "/driver");
}

// A tty with hardware behind it; false for virtual ones and for UARTs of unknown type (none fitted).
bool ReadTty(const DiscoveryOptions& options, const std::string& name, SerialPortInfo& port) {
    const std::string base = options.sysRoot + "/class/tty/" + name;
    char device[PATH_MAX];
    if (!::realpath((base + "/device").c_str(), device))
        return false;
    if (ReadAttribute(base + "/type") == "0")
        return false;
    port.kernelName = name;
    std::string node = name;
    std::replace(node.begin(), node.end(), '!', '/');
    port.devicePath = options.devRoot + "/" + node;
    port.driver = DriverOf(device);
    char root[PATH_MAX];
    AddUsbStrings(device, ::realpath(options.sysRoot.c_str(), root) ? root : options.sysRoot, port);
    return true;
}

} // namespace

std::vector<SerialPortInfo> DiscoverWithSysfs(const DiscoveryOptions& options) {
    std::vector<SerialPortInfo> ports;
    DIR* d = ::opendir((options.sysRoot + "/class/tty").c_str());
    if (!d)
        return ports;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.')
            names.emplace_back(e->d_name);
    }
    ::closedir(d);
    for (const std::string& name : names) {
        SerialPortInfo port;
        if (ReadTty(options, name, port))
            ports.push_back(std::move(port));
    }
    return ports;
}

} // namespace tessor::detail
