#pragma once

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <optional>
#include <string>
#include <vector>

namespace tessor {

#ifdef _WIN32
// Windows has no owners and groups of device nodes; the identity exists only for the shared interface.
using uid_t = unsigned;
using gid_t = unsigned;
#endif

// One serial device present on the machine, as far as the system tells.
struct SerialPortInfo {
    std::string kernelName;   // "ttyUSB0"
    std::string devicePath;   // "/dev/ttyUSB0"
    std::string byIdPath;     // "/dev/serial/by-id/usb-...", empty when the device has none
    std::string driver;       // "ftdi_sio", "cdc_acm", "serial8250", ...
    std::string vendorId;     // USB vendor id, four hex digits ("0403"); empty when not USB
    std::string productId;    // USB product id ("6001")
    std::string manufacturer; // "FTDI"
    std::string product;      // "FT232R USB UART"
    std::string serialNumber; // "A1B2C3"
    bool nodePresent = false; // the device node exists
    bool mayOpen = false;     // the user may open it for reading and writing
    std::string group;        // group that owns the device node (name, or number without a name)

    bool operator==(const SerialPortInfo& other) const;
    bool operator!=(const SerialPortInfo& other) const { return !(*this == other); }
};

// Whose permissions count. Without one, the process's own (access(), which also honours ACLs).
struct OpenerIdentity {
    uid_t uid = 0;
    std::vector<gid_t> groups; // primary and supplementary
};

// Whether who may open a node with this mode, owner and group for reading and writing, as the kernel
// decides from the mode bits: the owner's bits for the owner, else the group's for a member of the group,
// else the others'; the superuser (uid 0) may open anything. ACLs are not looked at. Not on Windows.
#ifndef _WIN32
bool ModeAllowsOpening(mode_t mode, uid_t owner, gid_t group, const OpenerIdentity& who);
#endif

struct DiscoveryOptions {
    enum class Source { Automatic, Udev, Sysfs };
    // Roots of the device and sysfs trees; tests point them at a tree of their own.
    std::string devRoot = "/dev";
    std::string sysRoot = "/sys";
    // Automatic: libudev for the real trees, the sysfs scan for any other root or when udev fails.
    Source source = Source::Automatic;
    std::optional<OpenerIdentity> identity;
};

// The serial devices present: USB adapters first, then the others, each in natural order of the kernel
// name. Virtual terminals, pseudo-terminals and UARTs the kernel found no hardware for are left out.
std::vector<SerialPortInfo> DiscoverSerialPorts(const DiscoveryOptions& options = {});

// The options for this process: the real trees, unless TESSOR_PORTS_ROOT names a tree with dev/ and sys/
// (used by the tests and the screenshots to show made-up adapters).
DiscoveryOptions DefaultDiscoveryOptions();

// What opening a path would meet.
struct DeviceCheck {
    enum class State { Ready, Missing, Forbidden, Unusable };
    State state = State::Missing;
    int error = 0;                      // errno of the failed look-up (Missing, Unusable)
    std::string group;                  // owning group (Forbidden)
    std::optional<SerialPortInfo> port; // the discovered device the path leads to, if any
};
DeviceCheck CheckDevice(const std::string& path, const std::vector<SerialPortInfo>& ports,
                        const std::optional<OpenerIdentity>& identity = std::nullopt);

// "FTDI FT232R USB UART"; for devices without USB strings the driver, or empty.
std::string AdapterName(const SerialPortInfo& port);
// The name to store for a device: its by-id path when it has one, else its node.
std::string PreferredPath(const SerialPortInfo& port);
// The name of the group owning a file, or its number; empty when the file cannot be looked at.
std::string OwningGroup(const std::string& path);
// What a user who may not open a device does about it, two sentences on two lines.
std::string PermissionAdvice(const std::string& group);

// The list for people, one device per entry of two or three lines.
std::string FormatPortList(const std::vector<SerialPortInfo>& ports);

} // namespace tessor
