// Discovery through libudev: the tty subsystem, with the udev database's names where udev runs.

#include "link/PortDiscoveryDetail.h"

#include <libudev.h>

#include <memory>

namespace tessor::detail {

namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::string Text(const char* value) {
    return value ? std::string(value) : std::string();
}

// A sysfs attribute, or else the first of the udev properties that is set.
std::string AttributeOr(udev_device* dev, const char* attribute, const char* property,
                        const char* secondProperty = nullptr) {
    std::string value = Text(udev_device_get_sysattr_value(dev, attribute));
    if (value.empty() && property)
        value = Text(udev_device_get_property_value(dev, property));
    if (value.empty() && secondProperty)
        value = Text(udev_device_get_property_value(dev, secondProperty));
    return value;
}

void AddUsbStrings(udev_device* tty, SerialPortInfo& port) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    if (!usb)
        return;
    port.vendorId = AttributeOr(usb, "idVendor", "ID_VENDOR_ID");
    port.productId = AttributeOr(usb, "idProduct", "ID_MODEL_ID");
    port.manufacturer = AttributeOr(usb, "manufacturer", "ID_VENDOR_FROM_DATABASE", "ID_VENDOR");
    port.product = AttributeOr(usb, "product", "ID_MODEL_FROM_DATABASE", "ID_MODEL");
    port.serialNumber = AttributeOr(usb, "serial", "ID_SERIAL_SHORT");
}

void AddByIdLink(udev_device* tty, const std::string& devRoot, SerialPortInfo& port) {
    const std::string prefix = devRoot + "/serial/by-id/";
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_device_get_devlinks_list_entry(tty)) {
        const std::string link = Text(udev_list_entry_get_name(entry));
        if (link.compare(0, prefix.size(), prefix) == 0) {
            port.byIdPath = link;
            return;
        }
    }
}

bool ReadTty(udev_device* tty, const DiscoveryOptions& options, SerialPortInfo& port) {
    udev_device* parent = udev_device_get_parent(tty);
    if (!parent || Text(udev_device_get_sysattr_value(tty, "type")) == "0")
        return false;
    port.kernelName = Text(udev_device_get_sysname(tty));
    port.devicePath = Text(udev_device_get_devnode(tty));
    if (port.devicePath.empty())
        port.devicePath = options.devRoot + "/" + port.kernelName;
    // Through the serial core's port and controller layers to the real driver.
    while (parent && Text(udev_device_get_subsystem(parent)) == "serial-base")
        parent = udev_device_get_parent(parent);
    port.driver = parent ? Text(udev_device_get_driver(parent)) : std::string();
    AddUsbStrings(tty, port);
    AddByIdLink(tty, options.devRoot, port);
    return true;
}

} // namespace

bool DiscoverWithUdev(const DiscoveryOptions& options, std::vector<SerialPortInfo>* ports) {
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context)
        return false;
    std::unique_ptr<udev_enumerate, UdevDeleter> scan(udev_enumerate_new(context.get()));
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0)
        return false;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        std::unique_ptr<udev_device, UdevDeleter> tty(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        SerialPortInfo port;
        if (tty && ReadTty(tty.get(), options, port))
            ports->push_back(std::move(port));
    }
    return true;
}

} // namespace tessor::detail
