#include "link/Win32SerialDevice.h"

#include "link/NetworkSerialDevice.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <cstring>

#ifndef ERROR_DEVICE_REMOVED
#define ERROR_DEVICE_REMOVED 1617L
#endif

namespace tessor {

namespace {

constexpr DWORD kQueueSize = 8192;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// The longest a single ReadFile waits for a first byte; Read() checks for an interrupt between slices.
constexpr DWORD kReadSliceMs = 50;

// The port number of "COMn" or "COMn:" (1 to 255), or 0 for any other name.
int ComIndex(std::string name) {
    if (!name.empty() && name.back() == ':')
        name.pop_back();
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0)
        return 0;
    char* end = nullptr;
    const long index = std::strtol(name.c_str() + 3, &end, 10);
    if (!end || *end != '\0' || index < 1 || index > 255)
        return 0;
    return static_cast<int>(index);
}

std::string WithoutColon(std::string name) {
    if (!name.empty() && name.back() == ':')
        name.pop_back();
    return name;
}

void ApplyFields(const ControlBlockFields& f, DCB* dcb) {
    std::memset(dcb, 0, sizeof *dcb);
    dcb->DCBlength = sizeof *dcb;
    dcb->BaudRate = f.baudRate;
    dcb->fBinary = f.binary;
    dcb->fParity = f.parityCheck;
    dcb->fOutxCtsFlow = f.ctsFlow;
    dcb->fOutxDsrFlow = f.dsrFlow;
    dcb->fDtrControl = f.dtrControl;
    dcb->fDsrSensitivity = f.dsrSensitivity;
    dcb->fTXContinueOnXoff = f.txContinueOnXoff;
    dcb->fOutX = f.xonXoffOut;
    dcb->fInX = f.xonXoffIn;
    dcb->fErrorChar = f.errorReplace;
    dcb->fNull = f.stripNull;
    dcb->fRtsControl = f.rtsControl;
    dcb->fAbortOnError = f.abortOnError;
    dcb->ByteSize = f.byteSize;
    dcb->Parity = f.parity;
    dcb->StopBits = f.stopBits;
    // XON/XOFF limits and the XON, XOFF, error, end-of-file and event characters stay zero.
}

// Errors after which the port is gone (a USB adapter pulled out) rather than merely failing once.
bool IsDeviceGone(DWORD err) {
    switch (err) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE:
        return true;
    default:
        return false;
    }
}

IoResult Failure(DWORD err, std::size_t done = 0) {
    return {IsDeviceGone(err) ? IoResult::HungUp : IoResult::Error, static_cast<int>(err), done};
}

} // namespace

ControlBlockFields ControlBlockFor(const LineSettings& settings) {
    ControlBlockFields f;
    f.baudRate = settings.baud;
    f.binary = true;
    f.parityCheck = true;
    f.dtrControl = DTR_CONTROL_ENABLE;
    f.txContinueOnXoff = true;
    f.rtsControl = RTS_CONTROL_ENABLE;
    f.byteSize = settings.byteSize;
    f.parity = settings.parity;     // 0 = NOPARITY
    f.stopBits = settings.stopBits; // 0 = ONESTOPBIT
    return f;
}

std::string Win32DevicePath(const std::string& name) {
    const int index = ComIndex(name);
    return index ? "\\\\.\\COM" + std::to_string(index) : name;
}

std::unique_ptr<Win32SerialDevice> Win32SerialDevice::Open(const std::string& name,
                                                           const LineSettings& settings, int* errorCode) {
    auto fail = [errorCode](DWORD err) {
        if (errorCode)
            *errorCode = static_cast<int>(err);
        return std::unique_ptr<Win32SerialDevice>();
    };
    const std::string path = Win32DevicePath(name);
    HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return fail(::GetLastError());
    auto closeAndFail = [&]() {
        const DWORD err = ::GetLastError();
        ::CloseHandle(port);
        return fail(err);
    };
    if (!::SetupComm(port, kQueueSize, kQueueSize))
        return closeAndFail();
    DCB dcb;
    ApplyFields(ControlBlockFor(settings), &dcb);
    if (!::SetCommState(port, &dcb))
        return closeAndFail();
    // A read returns at once with what has arrived, or waits at most one slice for a first byte and
    // then returns empty, so that Read() sees an interrupt within a slice even where cancelling a
    // pending read is not honoured (Wine's serial driver). Writes wait for their completion, without
    // limit, whatever the previous user of the port left configured.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kReadSliceMs;
    if (!::SetCommTimeouts(port, &timeouts))
        return closeAndFail();
    if (!::PurgeComm(port, kPurgeAll))
        return closeAndFail();
    HANDLE events[3] = {};
    for (HANDLE& event : events) {
        event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!event) {
            const DWORD err = ::GetLastError();
            for (HANDLE made : events)
                if (made)
                    ::CloseHandle(made);
            ::CloseHandle(port);
            return fail(err);
        }
    }
    if (errorCode)
        *errorCode = 0;
    return std::unique_ptr<Win32SerialDevice>(new Win32SerialDevice(port, events[0], events[1], events[2]));
}

Win32SerialDevice::Win32SerialDevice(void* port, void* cancelEvent, void* readEvent, void* writeEvent)
    : m_port(port), m_cancelEvent(cancelEvent), m_readEvent(readEvent), m_writeEvent(writeEvent) {}

Win32SerialDevice::~Win32SerialDevice() {
    ::CancelIoEx(m_port, nullptr);
    ::CloseHandle(m_port);
    ::CloseHandle(m_cancelEvent);
    ::CloseHandle(m_readEvent);
    ::CloseHandle(m_writeEvent);
}

IoResult Win32SerialDevice::Finish(void* overlapped, void* event) {
    auto* ov = static_cast<OVERLAPPED*>(overlapped);
    HANDLE handles[2] = {event, m_cancelEvent};
    const DWORD woken = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    const bool done = woken == WAIT_OBJECT_0;
    if (!done)
        ::CancelIoEx(m_port, ov);
    DWORD count = 0;
    // Waits for the transfer to end either way: the buffer must not be released while it runs. A byte
    // that arrived just before the cancel still counts.
    if (::GetOverlappedResult(m_port, ov, &count, TRUE))
        return {IoResult::Ok, 0, count};
    const DWORD err = ::GetLastError();
    if (!done || (err == ERROR_OPERATION_ABORTED && m_interrupted.load()))
        return {IoResult::Interrupted, 0, 0};
    return Failure(err);
}

IoResult Win32SerialDevice::Write(const std::uint8_t* data, std::size_t len) {
    std::size_t done = 0;
    while (done < len) {
        if (m_interrupted.load())
            return {IoResult::Interrupted, 0, done};
        OVERLAPPED ov{};
        ov.hEvent = m_writeEvent;
        DWORD count = 0;
        IoResult r;
        if (::WriteFile(m_port, data + done, static_cast<DWORD>(len - done), &count, &ov))
            r = {IoResult::Ok, 0, count};
        else if (::GetLastError() == ERROR_IO_PENDING)
            r = Finish(&ov, m_writeEvent);
        else
            return Failure(::GetLastError(), done);
        if (!r.ok())
            return {r.status, r.errorCode, done + r.count};
        done += r.count;
    }
    return {IoResult::Ok, 0, done};
}

IoResult Win32SerialDevice::Read(std::uint8_t* data, std::size_t len) {
    if (len == 0)
        return {IoResult::Ok, 0, 0};
    for (;;) {
        if (m_interrupted.load())
            return {IoResult::Interrupted, 0, 0};
        OVERLAPPED ov{};
        ov.hEvent = m_readEvent;
        DWORD count = 0;
        IoResult r;
        // One byte per call, as the link reads its replies.
        if (::ReadFile(m_port, data, 1, &count, &ov))
            r = {IoResult::Ok, 0, count};
        else if (::GetLastError() == ERROR_IO_PENDING)
            r = Finish(&ov, m_readEvent);
        else
            return Failure(::GetLastError());
        if (!r.ok() || r.count > 0)
            return r;
        // Zero bytes without an error: a slice ran out with nothing arrived; wait again.
    }
}

bool Win32SerialDevice::Purge() {
    return ::PurgeComm(m_port, kPurgeAll) != 0;
}

void Win32SerialDevice::Interrupt() {
    m_interrupted.store(true);
    ::SetEvent(m_cancelEvent);
}

std::string ResolveComName(const std::string& name, ComSettingLookup lookup) {
    const int index = ComIndex(name);
    if (!index)
        return WithoutColon(name);
    const std::string com = "COM" + std::to_string(index);
    const std::string var = "TESSOR_" + com;
    if (const char* env = std::getenv(var.c_str()); env && *env)
        return env;
    if (lookup) {
        std::string stored = lookup(index);
        if (!stored.empty())
            return stored;
    }
    return SystemComDevice(index);
}

std::string SystemComDevice(int n) {
    return "COM" + std::to_string(n);
}

std::string AdapterNameHint() {
    return "its COM number, which the Device Manager shows under Ports (COM & LPT)";
}

std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& device, const LineSettings& settings,
                                               int* errorCode) {
    if (IsNetworkPortName(device))
        return NetworkSerialDevice::Open(device, settings, errorCode);
    return Win32SerialDevice::Open(device, settings, errorCode);
}

std::string SystemErrorMessage(int err) {
    if (IsNetworkErrorCode(err))
        return NetworkErrorMessage(err);
    char buf[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     static_cast<DWORD>(err), 0, buf, sizeof buf, nullptr);
    std::string text(buf, n);
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "unknown error" : text;
}

std::string SystemErrorText(int err) {
    if (IsNetworkErrorCode(err))
        return NetworkErrorMessage(err); // the tool's own numbers mean nothing to a user
    return std::to_string(err) + " (" + SystemErrorMessage(err) + ")";
}

int NoDeviceError() {
    return ERROR_DEVICE_NOT_CONNECTED;
}

OpenFailure ClassifyOpenError(int err) {
    switch (static_cast<DWORD>(err)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
        return OpenFailure::Missing;
    case ERROR_ACCESS_DENIED: // what Windows answers while another program has the port open
    case ERROR_SHARING_VIOLATION:
        return OpenFailure::Busy;
    default:
        return OpenFailure::Other;
    }
}

std::string DeviceOwnerGroup(const std::string&) {
    return std::string();
}

} // namespace tessor
