#include "link/PortDiscovery.h"

#include "link/PortDiscoveryDetail.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <map>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace tessor {

namespace detail {

std::string ReadAttribute(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::string();
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

} // namespace detail

namespace {

bool IsRealTree(const DiscoveryOptions& options) {
    return options.devRoot == "/dev" && options.sysRoot == "/sys";
}

std::string Basename(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

// Kernel name → by-id link, from the links in <dev>/serial/by-id (the first in name order wins).
std::map<std::string, std::string> ByIdLinks(const std::string& devRoot) {
    std::map<std::string, std::string> links;
    const std::string dir = devRoot + "/serial/by-id";
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return links;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.')
            names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        char target[PATH_MAX];
        const std::string link = dir + "/" + name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        links.emplace(Basename(target), link);
    }
    return links;
}

bool MayOpen(const std::string& path, const struct stat& st, const std::optional<OpenerIdentity>& who) {
    return who ? ModeAllowsOpening(st.st_mode, st.st_uid, st.st_gid, *who)
               : ::access(path.c_str(), R_OK | W_OK) == 0;
}

// Alphabetic stem and number of a kernel name, so that ttyUSB2 sorts before ttyUSB10.
std::pair<std::string, long> NaturalKey(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
        --digits;
    const long number = digits < name.size() ? std::strtol(name.c_str() + digits, nullptr, 10) : -1;
    return {name.substr(0, digits), number};
}

void Complete(std::vector<SerialPortInfo>& ports, const DiscoveryOptions& options) {
    const auto links = ByIdLinks(options.devRoot);
    for (SerialPortInfo& port : ports) {
        if (port.byIdPath.empty()) {
            const auto it = links.find(port.kernelName);
            if (it != links.end())
                port.byIdPath = it->second;
        }
        struct stat st {};
        port.nodePresent = ::stat(port.devicePath.c_str(), &st) == 0;
        port.mayOpen = port.nodePresent && MayOpen(port.devicePath, st, options.identity);
        port.group = port.nodePresent ? OwningGroup(port.devicePath) : std::string();
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        const bool usbA = !a.vendorId.empty(), usbB = !b.vendorId.empty();
        if (usbA != usbB)
            return usbA;
        return NaturalKey(a.kernelName) < NaturalKey(b.kernelName);
    });
}

} // namespace

bool ModeAllowsOpening(mode_t mode, uid_t owner, gid_t group, const OpenerIdentity& who) {
    if (who.uid == 0)
        return true;
    constexpr mode_t kOwner = S_IRUSR | S_IWUSR, kGroup = S_IRGRP | S_IWGRP, kOther = S_IROTH | S_IWOTH;
    if (owner == who.uid)
        return (mode & kOwner) == kOwner;
    if (std::find(who.groups.begin(), who.groups.end(), group) != who.groups.end())
        return (mode & kGroup) == kGroup;
    return (mode & kOther) == kOther;
}

std::vector<SerialPortInfo> DiscoverSerialPorts(const DiscoveryOptions& options) {
    std::vector<SerialPortInfo> ports;
    const bool udev = options.source == DiscoveryOptions::Source::Udev ||
                      (options.source == DiscoveryOptions::Source::Automatic && IsRealTree(options));
    if (!udev || !detail::DiscoverWithUdev(options, &ports))
        ports = detail::DiscoverWithSysfs(options);
    Complete(ports, options);
    return ports;
}

DiscoveryOptions DefaultDiscoveryOptions() {
    DiscoveryOptions options;
    if (const char* root = std::getenv("TESSOR_PORTS_ROOT"); root && *root) {
        options.devRoot = std::string(root) + "/dev";
        options.sysRoot = std::string(root) + "/sys";
    }
    return options;
}

DeviceCheck CheckDevice(const std::string& path, const std::vector<SerialPortInfo>& ports,
                        const std::optional<OpenerIdentity>& identity) {
    DeviceCheck check;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        check.error = path.empty() ? ENOENT : errno;
        check.state = (check.error == ENOENT || check.error == ENOTDIR) ? DeviceCheck::State::Missing
                                                                        : DeviceCheck::State::Unusable;
        return check;
    }
    const std::string target = RealPath(path);
    for (const SerialPortInfo& port : ports) {
        if (RealPath(port.devicePath) == target) {
            check.port = port;
            break;
        }
    }
    if (!MayOpen(path, st, identity)) {
        check.state = DeviceCheck::State::Forbidden;
        check.group = OwningGroup(path);
        return check;
    }
    check.state = DeviceCheck::State::Ready;
    return check;
}

std::string OwningGroup(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::string();
    if (const group* g = ::getgrgid(st.st_gid))
        return g->gr_name;
    return std::to_string(st.st_gid);
}

} // namespace tessor
