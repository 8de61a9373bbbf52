#pragma once

#include "link/SerialPort.h"

#include <atomic>
#include <memory>
#include <string>

namespace tessor {

// A serial device through termios: exclusive, raw 8-N-1 at the given speed, no flow control, DTR and RTS
// asserted where the device has modem lines. Reads wait in poll() on the device and a wake-up pipe, so
// Interrupt() ends a read that would otherwise wait forever.
class PosixSerialDevice : public SerialDevice {
public:
    // Opens and configures the device; returns null with *errorCode set (errno) on failure.
    static std::unique_ptr<PosixSerialDevice> Open(const std::string& path, const LineSettings& settings,
                                                   int* errorCode);
    ~PosixSerialDevice() override;

    IoResult Write(const std::uint8_t* data, std::size_t len) override;
    IoResult Read(std::uint8_t* data, std::size_t len) override;
    bool Purge() override;
    void Interrupt() override;

private:
    PosixSerialDevice(int fd, int wakeRead, int wakeWrite);

    int m_fd;
    int m_wakeRead;
    int m_wakeWrite;
    std::atomic<bool> m_interrupted{false};
};

} // namespace tessor
