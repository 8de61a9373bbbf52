#pragma once

// Shared between the two discovery sources; not part of the link layer's interface.

#include "link/PortDiscovery.h"

#include <string>
#include <vector>

namespace tessor::detail {

// False when libudev could not be used at all (the caller then scans sysfs).
bool DiscoverWithUdev(const DiscoveryOptions& options, std::vector<SerialPortInfo>* ports);
std::vector<SerialPortInfo> DiscoverWithSysfs(const DiscoveryOptions& options);

// The first line of a small sysfs attribute file, without the line end; empty when unreadable.
std::string ReadAttribute(const std::string& path);

} // namespace tessor::detail
