// The parts of device discovery that every system shares: comparing, naming and listing devices.
#include "link/PortDiscovery.h"

#include <tuple>

namespace tessor {

bool SerialPortInfo::operator==(const SerialPortInfo& o) const {
    return std::tie(kernelName, devicePath, byIdPath, driver, vendorId, productId, manufacturer, product,
                    serialNumber, nodePresent, mayOpen, group) ==
           std::tie(o.kernelName, o.devicePath, o.byIdPath, o.driver, o.vendorId, o.productId, o.manufacturer,
                    o.product, o.serialNumber, o.nodePresent, o.mayOpen, o.group);
}

std::string AdapterName(const SerialPortInfo& port) {
    std::string name = port.manufacturer;
    if (!port.product.empty()) {
        // Some adapters repeat the maker at the start of the model ("Prolific Prolific USB-Serial").
        if (!name.empty() && port.product.compare(0, name.size(), name) != 0)
            name += ' ';
        else
            name.clear();
        name += port.product;
    }
    return name.empty() ? port.driver : name;
}

std::string PreferredPath(const SerialPortInfo& port) {
    return port.byIdPath.empty() ? port.devicePath : port.byIdPath;
}

std::string PermissionAdvice(const std::string& group) {
    std::string text = "Serial devices may be opened only by members of the group that owns them";
    text += group.empty() ? "." : " (\"" + group + "\").";
    text += "\nAdd your user to it (usermod -aG " + (group.empty() ? std::string("dialout") : group) +
            " USER) and log in again.";
    return text;
}

std::string FormatPortList(const std::vector<SerialPortInfo>& ports) {
    if (ports.empty())
        return "No serial devices found.\n";
    std::string out;
    for (const SerialPortInfo& port : ports) {
        out += port.kernelName + "  " + PreferredPath(port) + "\n";
        std::string detail = AdapterName(port);
        auto add = [&detail](const std::string& label, const std::string& value) {
            if (value.empty())
                return;
            if (!detail.empty())
                detail += ", ";
            detail += label + value;
        };
        if (!port.vendorId.empty())
            add("USB ", port.vendorId + ":" + port.productId);
        if (port.driver != AdapterName(port))
            add("driver ", port.driver);
        add("serial ", port.serialNumber);
        if (!port.byIdPath.empty())
            add("", port.devicePath);
        if (!port.nodePresent)
            add("", "no device node");
        else if (!port.mayOpen)
            add("", "no permission: join the group \"" + port.group + "\"");
        out += "    " + detail + "\n";
    }
    return out;
}

} // namespace tessor
