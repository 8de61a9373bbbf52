#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tessor {

// Result of one blocking device call. Ok carries the byte count, the others an errno-style code.
struct IoResult {
    enum Status { Ok, Error, HungUp, Interrupted };
    Status status = Ok;
    int errorCode = 0; // system error number for Error / HungUp
    std::size_t count = 0;

    bool ok() const { return status == Ok; }
};

// A byte-oriented serial line as the console transport needs it: blocking reads and writes, a purge,
// and a way for another thread to wake a reader that waits forever.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Writes all of the bytes or fails.
    virtual IoResult Write(const std::uint8_t* data, std::size_t len) = 0;
    // Blocks until at least one byte has arrived (reads at most len), the device fails, or Interrupt() is
    // called. An interrupted read returns status Interrupted and reads nothing.
    virtual IoResult Read(std::uint8_t* data, std::size_t len) = 0;
    // Discards anything queued in either direction.
    virtual bool Purge() = 0;
    // Wakes a thread blocked in Read; that read and every later one return Interrupted.
    virtual void Interrupt() = 0;
};

// Line settings as the transport's Open receives them.
struct LineSettings {
    std::uint32_t baud = 9600;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0;   // 0 none, 1 odd, 2 even
    std::uint8_t stopBits = 0; // 0 one, 1 one and a half, 2 two
};

} // namespace tessor
