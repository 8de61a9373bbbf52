#include "cli/CliPorts.h"

#include "files/PlainFile.h"
#include "link/ConsolePort.h"
#include "link/NetworkPortName.h"
#include "link/NetworkSocket.h"
#include "link/SerialPort.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace tessor::cli {

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string SettingsFile() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"))
        base = std::string(home) + "/.config";
    else
        return std::string();
    return base + "/Calvadra/tessor-configurator.conf";
}

// COM number 1..9 of "COMn" or "COMn:", else 0.
int ComNumber(const std::string& name) {
    std::string upper;
    for (char c : name)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.size() < 4 || upper.compare(0, 3, "COM") != 0 ||
        !std::isdigit(static_cast<unsigned char>(upper[3])))
        return 0;
    if (upper.size() == 4 || (upper.size() == 5 && upper[4] == ':'))
        return upper[3] - '0';
    return 0;
}

} // namespace

std::string StoredComDeviceFromIni(int n) {
    const std::string path = SettingsFile();
    if (path.empty())
        return std::string();
    // Read as the other small files are: a pipe or a device there is not waited for, and gives no value.
    std::string bytes;
    int error = 0;
    if (!ReadSmallPlainFile(path, &bytes, &error))
        return std::string();
    std::istringstream file(bytes);
    const std::string key = "COM" + std::to_string(n);
    std::string line;
    bool inPorts = false;
    while (std::getline(file, line)) {
        line = Trim(line);
        if (!line.empty() && line.front() == '[') {
            inPorts = line == "[Ports]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inPorts || equals == std::string::npos || Trim(line.substr(0, equals)) != key)
            continue;
        std::string value = Trim(line.substr(equals + 1));
        // The settings store quotes values that need it.
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return std::string();
}

ResolvedPort ResolvePort(const std::string& name) {
    ResolvedPort port;
    port.name = name;
    const int n = ComNumber(name);
    if (n == 0) {
        port.device = name;
        port.source = PortSource::Path;
        return port;
    }
    const std::string env = "TESSOR_COM" + std::to_string(n);
    if (const char* value = std::getenv(env.c_str()); value && *value) {
        port.device = value;
        port.source = PortSource::Environment;
    } else if (std::string stored = StoredComDeviceFromIni(n); !stored.empty()) {
        port.device = stored;
        port.source = PortSource::Settings;
    } else {
        port.device = ResolveComName(name, nullptr);
        port.source = PortSource::Default;
    }
    return port;
}

const char* PortSourceName(PortSource source) {
    switch (source) {
    case PortSource::Environment:
        return "environment";
    case PortSource::Settings:
        return "settings";
    case PortSource::Default:
        return "default";
    case PortSource::Path:
        break;
    }
    return "path";
}

std::string UnusablePortName(const ResolvedPort& port) {
    const NetworkPortParse parse = ParseNetworkPortName(port.device);
    if (parse.kind != NetworkPortParse::Malformed)
        return std::string();
    const std::string name = port.device != port.name ? port.device + " (" + port.name + ")" : port.device;
    return name + ": " + parse.problem +
           "; write rfc2217://HOST:PORT or socket://HOST:PORT, an IPv6 address " +
           "in brackets ([::1]), a port from 1 to 65535.";
}

std::string BusyPortProblem(const ResolvedPort& port) {
    const NetworkPortParse parse = ParseNetworkPortName(port.device);
    const std::string endpoint =
        parse.kind == NetworkPortParse::Valid ? NetworkEndpointText(parse.name) : port.device;
    return SystemErrorMessage(kNetworkPortBusy) + ": " + endpoint + " (" + port.name +
           "), still after trying again for " + std::to_string(CConsolePort::kDefaultBusyRetry.count()) +
           " ms.\nAnother client probably has the board's device open (a console server keeps it for a "
           "moment after a client has gone); end that client, or try again in a moment.";
}

std::string PortProblem(const ResolvedPort& port, int errorCode) {
    if (errorCode == kNetworkPortBusy)
        return BusyPortProblem(port);
    std::string text = "cannot open " + port.name;
    if (port.device != port.name)
        text += " (" + port.device + ")";
    text += ": " + SystemErrorMessage(errorCode) + ".";
    if (IsNetworkPortName(port.device))
        return text + "\n" + NetworkOpenAdvice();
    switch (ClassifyOpenError(errorCode)) {
    case OpenFailure::Forbidden: {
        const std::string group = DeviceOwnerGroup(port.device);
        text += "\nSerial devices may be opened only by members of the group that owns them";
        text += group.empty() ? "." : " (\"" + group + "\").";
        text += "\nAdd your user to it (usermod -aG " + (group.empty() ? std::string("dialout") : group) +
                " USER) and log in again.";
        break;
    }
    case OpenFailure::Missing:
        text += "\nGive the device of your adapter with --port (for a USB adapter a stable name under "
                "/dev/serial/by-id/), or set TESSOR_COMn or Ports/COMn in the settings file.";
        break;
    case OpenFailure::Busy:
        text += "\nAnother program has the device open; end it and try again.";
        break;
    case OpenFailure::Other:
        text += "\nCheck that the device is a serial port and that it is connected.";
        break;
    }
    return text;
}

int TryOpen(const std::string& device) {
    int error = 0;
    const auto opened = OpenSerialDevice(device, LineSettings{}, &error);
    if (opened)
        return 0;
    return error != 0 ? error : NoDeviceError();
}

} // namespace tessor::cli
