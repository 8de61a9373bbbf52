#include "link/PortDiscovery.h"
#include "support/FakePortTree.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tessor::test {
namespace {

DiscoveryOptions In(const FakePortTree& tree) {
    DiscoveryOptions options;
    options.devRoot = tree.Dev();
    options.sysRoot = tree.Sys();
    return options;
}

gid_t GroupOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_gid;
}

TEST(PortDiscovery, FindsAdaptersAndUartsInASysfsTree) {
    FakePortTree tree;
    FakeAdapter ftdi;
    tree.AddUsb(ftdi);
    FakeAdapter acm;
    acm.kernel = "ttyACM0";
    acm.usbPort = "1-3";
    acm.vendorId = "2341";
    acm.productId = "0043";
    acm.manufacturer = "Arduino (www.arduino.cc)";
    acm.product = "Uno";
    acm.serial = "7593";
    acm.driver = "cdc_acm";
    acm.byId = "usb-Arduino__www.arduino.cc__Uno_7593-if00";
    acm.acm = true;
    tree.AddUsb(acm);
    tree.AddUart("ttyS10", "4");
    tree.AddUart("ttyS2", "4");
    tree.AddUart("ttyS1", "0"); // no UART fitted
    tree.AddVirtual("tty1");

    const auto ports = DiscoverSerialPorts(In(tree));
    ASSERT_EQ(ports.size(), 4u);
    // USB adapters first, then natural order of the kernel names.
    EXPECT_EQ(ports[0].kernelName, "ttyACM0");
    EXPECT_EQ(ports[1].kernelName, "ttyUSB0");
    EXPECT_EQ(ports[2].kernelName, "ttyS2");
    EXPECT_EQ(ports[3].kernelName, "ttyS10");

    const SerialPortInfo& usb = ports[1];
    EXPECT_EQ(usb.devicePath, tree.Node("ttyUSB0"));
    EXPECT_EQ(usb.byIdPath, tree.ById(ftdi.byId));
    EXPECT_EQ(usb.driver, "ftdi_sio");
    EXPECT_EQ(usb.vendorId + ":" + usb.productId, "0403:6001");
    EXPECT_EQ(AdapterName(usb), "FTDI FT232R USB UART");
    EXPECT_EQ(usb.serialNumber, "A1B2C3");
    EXPECT_TRUE(usb.nodePresent);
    EXPECT_EQ(PreferredPath(usb), tree.ById(ftdi.byId));
    EXPECT_EQ(ports[0].driver, "cdc_acm");
    EXPECT_EQ(ports[0].byIdPath, tree.ById(acm.byId));

    const SerialPortInfo& uart = ports[2];
    EXPECT_EQ(uart.driver, "serial8250");
    EXPECT_TRUE(uart.vendorId.empty());
    EXPECT_TRUE(uart.byIdPath.empty());
    EXPECT_EQ(PreferredPath(uart), tree.Node("ttyS2"));
    EXPECT_EQ(AdapterName(uart), "serial8250");
}

TEST(PortDiscovery, TellsWhoMayOpenADeviceAndWhichGroupToJoin) {
    FakePortTree tree;
    tree.AddUsb(FakeAdapter{});
    const std::string node = tree.Node("ttyUSB0");
    ASSERT_EQ(::chmod(node.c_str(), 0660), 0);
    const gid_t owner = GroupOf(node);
    const std::string group = OwningGroup(node);
    ASSERT_FALSE(group.empty());

    DiscoveryOptions options = In(tree);
    options.identity = OpenerIdentity{54321, {54321}};
    auto ports = DiscoverSerialPorts(options);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_FALSE(ports[0].mayOpen);
    EXPECT_EQ(ports[0].group, group);
    EXPECT_NE(FormatPortList(ports).find("no permission: join the group \"" + group + "\""),
              std::string::npos);
    EXPECT_EQ(PermissionAdvice("dialout"), "Serial devices may be opened only by members of the group that "
                                           "owns them (\"dialout\").\nAdd your user to it (usermod -aG "
                                           "dialout USER) and log in again.");

    const DeviceCheck forbidden = CheckDevice(tree.ById(FakeAdapter{}.byId), ports, options.identity);
    EXPECT_EQ(forbidden.state, DeviceCheck::State::Forbidden);
    EXPECT_EQ(forbidden.group, group);
    ASSERT_TRUE(forbidden.port.has_value());
    EXPECT_EQ(forbidden.port->kernelName, "ttyUSB0");

    options.identity = OpenerIdentity{54321, {54321, owner}};
    EXPECT_TRUE(DiscoverSerialPorts(options)[0].mayOpen);
    EXPECT_EQ(CheckDevice(node, ports, options.identity).state, DeviceCheck::State::Ready);
    EXPECT_EQ(CheckDevice(tree.Node("ttyUSB7"), ports).state, DeviceCheck::State::Missing);
}

// Whether a user may open a device node for reading and writing, decided from its mode, owner and group
// and the user's groups as the kernel does (the tests run as root, for whom access() always agrees):
// the owner's bits for the owner, else the group's for a member, else the others'; root opens anything.
TEST(PortDiscovery, WhoMayOpenANodeFollowsItsModeOwnerAndGroup) {
    constexpr uid_t kOwner = 1000, kUser = 1001;
    constexpr gid_t kDialout = 20, kUsers = 100;
    struct Row {
        const char* name;
        mode_t mode;
        uid_t user;
        std::vector<gid_t> groups;
        bool may;
    };
    const Row rows[] = {
        {"OwnerReadWrite", 0600, kOwner, {kUsers}, true},
        {"OwnerReadOnly", 0400, kOwner, {kUsers}, false},
        {"OwnerWriteOnly", 0200, kOwner, {kUsers}, false},
        {"OwnerDeniedThoughGroupAllows", 0060, kOwner, {kDialout}, false},
        {"GroupMemberReadWrite", 0660, kUser, {kUsers, kDialout}, true},
        {"GroupMemberReadOnly", 0640, kUser, {kDialout}, false},
        {"GroupOnlyUserNotInIt", 0660, kUser, {kUsers}, false},
        {"MemberDeniedThoughOthersAllow", 0606, kUser, {kDialout}, false},
        {"OthersReadWrite", 0666, kUser, {kUsers}, true},
        {"OthersReadOnly", 0664, kUser, {kUsers}, false},
        {"RootWhateverTheMode", 0000, 0, {0}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(
            ModeAllowsOpening(S_IFCHR | row.mode, kOwner, kDialout, OpenerIdentity{row.user, row.groups}),
            row.may);
    }
}

// What the process's own permissions (no identity given) make of a node with this mode, looked at as an
// unprivileged user: the superuser may open anything, so a superuser running the tests looks in a child
// that has dropped to nobody. Bits: 1 node present, 2 may open, 4 the check says ready, 8 forbidden; -1
// when no unprivileged look was possible.
int AsUnprivilegedUser(const FakePortTree& tree, mode_t mode) {
    const std::string node = tree.Node("ttyUSB0");
    if (::chmod(node.c_str(), mode) != 0 || ::chmod(tree.Root().c_str(), 0755) != 0)
        return -1;
    const auto look = [&] {
        const auto ports = DiscoverSerialPorts(In(tree));
        if (ports.size() != 1)
            return 16;
        const DeviceCheck check = CheckDevice(node, ports);
        return (ports[0].nodePresent ? 1 : 0) | (ports[0].mayOpen ? 2 : 0) |
               (check.state == DeviceCheck::State::Ready ? 4 : 0) |
               (check.state == DeviceCheck::State::Forbidden ? 8 : 0);
    };
    if (::geteuid() != 0)
        return look();
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0 ||
            ::geteuid() == 0)
            ::_exit(255);
        ::_exit(look());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

TEST(PortDiscovery, WithoutAnIdentityAReadOnlyNodeIsNotOpenableForAnUnprivilegedUser) {
    FakePortTree tree;
    tree.AddUsb(FakeAdapter{});
    const int readWrite = AsUnprivilegedUser(tree, 0666);
    if (readWrite < 0)
        GTEST_SKIP() << "SKIPPED LOUDLY: cannot look as an unprivileged user (dropping to nobody failed)";
    EXPECT_EQ(readWrite, 1 | 2 | 4);
    EXPECT_EQ(AsUnprivilegedUser(tree, 0444), 1 | 8);
}

TEST(PortDiscovery, UnpluggedAdapterLeavesADanglingLinkThatIsMissing) {
    FakePortTree tree;
    tree.AddUsb(FakeAdapter{});
    ASSERT_EQ(::unlink(tree.Node("ttyUSB0").c_str()), 0);
    const auto ports = DiscoverSerialPorts(In(tree));
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_FALSE(ports[0].nodePresent);
    EXPECT_NE(FormatPortList(ports).find("no device node"), std::string::npos);
    EXPECT_EQ(CheckDevice(tree.ById(FakeAdapter{}.byId), ports).state, DeviceCheck::State::Missing);
}

TEST(PortDiscovery, PlainListNamesEveryDeviceOrSaysThereIsNone) {
    EXPECT_EQ(FormatPortList({}), "No serial devices found.\n");
    FakePortTree tree;
    tree.AddUsb(FakeAdapter{});
    const auto ports = DiscoverSerialPorts(In(tree));
    EXPECT_EQ(FormatPortList(ports), "ttyUSB0  " + tree.ById(FakeAdapter{}.byId) +
                                         "\n    FTDI FT232R USB UART, USB 0403:6001, driver ftdi_sio, "
                                         "serial A1B2C3, " +
                                         tree.Node("ttyUSB0") + "\n");
}

// On this machine, whatever it has: udev and the sysfs scan must find the same devices.
TEST(PortDiscovery, UdevAndSysfsAgreeOnThisMachine) {
    DiscoveryOptions udev;
    udev.source = DiscoveryOptions::Source::Udev;
    DiscoveryOptions sysfs;
    sysfs.source = DiscoveryOptions::Source::Sysfs;
    const auto a = DiscoverSerialPorts(udev);
    const auto b = DiscoverSerialPorts(sysfs);
    ASSERT_EQ(a.size(), b.size()) << FormatPortList(a) << "---\n" << FormatPortList(b);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].kernelName, b[i].kernelName);
        EXPECT_EQ(a[i].devicePath, b[i].devicePath);
        EXPECT_EQ(a[i].vendorId, b[i].vendorId);
        EXPECT_EQ(a[i].mayOpen, b[i].mayOpen);
    }
    if (a.empty())
        std::cout << "[   NOTE   ] this machine has no serial devices to compare\n";
}

} // namespace
} // namespace tessor::test
