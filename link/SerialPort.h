#pragma once

#include "link/SerialDevice.h"

#include <memory>
#include <string>

namespace tessor {

// The serial device layer as the rest of the program sees it, whatever the operating system: name
// resolution, opening, and the system's error numbers put into words. Each backend file defines these
// for its own system.

// Which device a console name means. "COMn" or "COMn:" resolves to the environment variable TESSOR_COMn
// if set, else the stored setting (lookup, may be null or return empty), else the system's own device
// for that port (/dev/ttyS(n-1) on Linux, COMn itself on Windows). Any other name is taken as a device.
using ComSettingLookup = std::string (*)(int n);
std::string ResolveComName(const std::string& name, ComSettingLookup lookup);
// The system's own device for COMn, what it means with nothing set: "/dev/ttyS0" for COM1 on Linux,
// "COM1" on Windows.
std::string SystemComDevice(int n);
// How a person names the device of a serial adapter on this system, as a phrase for advice texts.
std::string AdapterNameHint();

// Opens and configures a resolved device; returns null with *errorCode set to the system error number.
std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& device, const LineSettings& settings,
                                               int* errorCode);

// The system's message for an error number, without a trailing full stop or line break.
std::string SystemErrorMessage(int err);
// The error number followed by its message in parentheses: "5 (Access is denied)"; for the network
// device's own numbers the message alone.
std::string SystemErrorText(int err);
// The system error number that stands for "no such device".
int NoDeviceError();

// What an open failure means for the person who tried it.
enum class OpenFailure { Forbidden, Missing, Busy, Other };
OpenFailure ClassifyOpenError(int err);

// The group that owns a device node (its name, or its number if it has none); empty where the system
// grants device access otherwise, or the device cannot be examined.
std::string DeviceOwnerGroup(const std::string& device);

} // namespace tessor
