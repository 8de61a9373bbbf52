#pragma once

// Which device a --port name means, and what to tell the user when it cannot be opened.

#include <string>

namespace tessor::cli {

// The device stored for COMn under [Ports] COMn= in the window tool's settings file
// ($XDG_CONFIG_HOME or ~/.config, then Calvadra/tessor-configurator.conf), or empty.
std::string StoredComDeviceFromIni(int n);

// Where a resolved name came from.
enum class PortSource { Environment, Settings, Default, Path };

struct ResolvedPort {
    std::string name;   // as given ("COM1", "/dev/ttyUSB0")
    std::string device; // the device path that is opened
    PortSource source = PortSource::Path;
};

// "COMn" (any case, optional ":") resolves to TESSOR_COMn, else the settings file, else /dev/ttyS(n-1);
// anything else is a device path.
ResolvedPort ResolvePort(const std::string& name);

const char* PortSourceName(PortSource source);

// Why a port could not be opened and what to do about it, in one or more lines.
std::string PortProblem(const ResolvedPort& port, int errorCode);

// Why a name that starts like a console server's port cannot be one ("rfc2217://h:0 (COM2): ..."), or
// empty: bad usage, refused before anything is opened.
std::string UnusablePortName(const ResolvedPort& port);

// The console server behind a network port name turned the connection away for the whole busy retry.
std::string BusyPortProblem(const ResolvedPort& port);

// Opens and closes the device once; 0 when that worked, else the system error number.
int TryOpen(const std::string& device);

} // namespace tessor::cli
