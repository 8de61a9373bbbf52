#pragma once

#include "link/SerialPort.h"

#include <atomic>
#include <memory>
#include <string>

namespace tessor {

// The fields of the Windows device-control block that the port is opened with, as plain values so that
// they can be checked without a port. Everything not listed here is zero.
struct ControlBlockFields {
    std::uint32_t baudRate = 0;
    bool binary = false;
    bool parityCheck = false;
    bool ctsFlow = false;
    bool dsrFlow = false;
    unsigned dtrControl = 0; // 1: DTR asserted ("enable")
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    bool errorReplace = false;
    bool stripNull = false;
    unsigned rtsControl = 0; // 1: RTS asserted ("enable")
    bool abortOnError = false;
    std::uint8_t byteSize = 0;
    std::uint8_t parity = 0;
    std::uint8_t stopBits = 0;
};

// The control block for the given line settings: binary, the parity check flag set, no hardware or
// XON/XOFF flow control, DTR and RTS asserted, no special characters.
ControlBlockFields ControlBlockFor(const LineSettings& settings);

// The name CreateFile needs for a port: "COM1" or "COM1:" becomes "\\.\COM1" (which also reaches COM10
// and above); any other name is used as it is.
std::string Win32DevicePath(const std::string& name);

// A serial port through the Win32 communications API: opened exclusively, 8192-byte driver queues, the
// control block above, both sides purged. Reads and writes are overlapped so that Interrupt(), through an
// event, ends a read that would otherwise wait for a byte forever.
class Win32SerialDevice : public SerialDevice {
public:
    // Opens and configures the port; returns null with *errorCode set (GetLastError) on failure.
    static std::unique_ptr<Win32SerialDevice> Open(const std::string& name, const LineSettings& settings,
                                                   int* errorCode);
    ~Win32SerialDevice() override;
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    IoResult Write(const std::uint8_t* data, std::size_t len) override;
    IoResult Read(std::uint8_t* data, std::size_t len) override;
    bool Purge() override;
    void Interrupt() override;

private:
    Win32SerialDevice(void* port, void* cancelEvent, void* readEvent, void* writeEvent);
    // Waits for an overlapped transfer on the given event; cancels it when Interrupt() comes first.
    IoResult Finish(void* overlapped, void* event);

    void* m_port;
    void* m_cancelEvent; // manual reset: once set, every later transfer is interrupted
    void* m_readEvent;
    void* m_writeEvent;
    std::atomic<bool> m_interrupted{false};
};

} // namespace tessor
