#pragma once

// A made-up device and sysfs tree with serial adapters laid out as the kernel and udev lay them out,
// for discovery tests and for showing adapters the machine does not have.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tessor::test {

struct FakeAdapter {
    std::string kernel = "ttyUSB0";
    std::string usbPort = "1-2"; // the USB device's name in sysfs
    std::string vendorId = "0403";
    std::string productId = "6001";
    std::string manufacturer = "FTDI";
    std::string product = "FT232R USB UART";
    std::string serial = "A1B2C3";
    std::string driver = "ftdi_sio";
    std::string byId = "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    bool acm = false;       // the tty hangs from the interface (cdc_acm), not from a usb-serial port
    std::string nodeTarget; // the device node is a link to this (a pseudo-terminal), else a plain file
};

class FakePortTree {
public:
    FakePortTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessor-ports-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_root = pattern;
        std::filesystem::create_directories(Sys() + "/class/tty");
        std::filesystem::create_directories(Dev());
    }
    ~FakePortTree() {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    FakePortTree(const FakePortTree&) = delete;
    FakePortTree& operator=(const FakePortTree&) = delete;

    const std::string& Root() const { return m_root; }
    std::string Dev() const { return m_root + "/dev"; }
    std::string Sys() const { return m_root + "/sys"; }
    std::string Node(const std::string& kernel) const { return Dev() + "/" + kernel; }
    std::string ById(const std::string& name) const { return Dev() + "/serial/by-id/" + name; }

    void AddUsb(const FakeAdapter& a) {
        const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1/" + a.usbPort;
        const std::string iface = usb + "/" + a.usbPort + ":1.0";
        Write(usb + "/idVendor", a.vendorId);
        Write(usb + "/idProduct", a.productId);
        Write(usb + "/manufacturer", a.manufacturer);
        Write(usb + "/product", a.product);
        Write(usb + "/serial", a.serial);
        const std::string device = a.acm ? iface : iface + "/" + a.kernel;
        const std::string bus = a.acm ? "usb" : "usb-serial";
        Link(device + "/driver", "/sys/bus/" + bus + "/drivers/" + a.driver);
        AddTty(device, a.kernel, "");
        if (!a.byId.empty()) {
            std::filesystem::create_directories(Dev() + "/serial/by-id");
            std::filesystem::create_symlink("../../" + a.kernel, ById(a.byId));
        }
        if (a.nodeTarget.empty())
            Write("../dev/" + a.kernel, "");
        else
            std::filesystem::create_symlink(a.nodeTarget, Node(a.kernel));
    }

    // An on-board UART; type 0 means the kernel found none fitted.
    void AddUart(const std::string& kernel, const std::string& type) {
        const std::string device = "devices/platform/serial8250";
        Link(device + "/driver", "/sys/bus/platform/drivers/serial8250");
        AddTty(device, kernel, type);
        Write("../dev/" + kernel, "");
    }

    // A virtual terminal: a tty without a device behind it.
    void AddVirtual(const std::string& kernel) {
        const std::string dir = "devices/virtual/tty/" + kernel;
        Write(dir + "/dev", "4:0");
        std::filesystem::create_directory_symlink("../../" + dir, Sys() + "/class/tty/" + kernel);
        Write("../dev/" + kernel, "");
    }

private:
    // Paths relative to the sysfs root.
    void Write(const std::string& rel, const std::string& text) {
        const std::filesystem::path path = Sys() + "/" + rel;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text << (text.empty() ? "" : "\n");
    }
    void Link(const std::string& rel, const std::string& target) {
        const std::filesystem::path path = Sys() + "/" + rel;
        std::filesystem::create_directories(path.parent_path());
        if (!std::filesystem::is_symlink(path))
            std::filesystem::create_symlink(target, path);
    }
    void AddTty(const std::string& device, const std::string& kernel, const std::string& type) {
        const std::string tty = device + "/tty/" + kernel;
        Write(tty + "/dev", "188:0");
        if (!type.empty())
            Write(tty + "/type", type);
        Link(tty + "/device", "../../../" + device.substr(device.find_last_of('/') + 1));
        std::filesystem::create_directory_symlink("../../" + tty, Sys() + "/class/tty/" + kernel);
    }

    std::string m_root;
};

} // namespace tessor::test
