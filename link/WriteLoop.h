#pragma once

// The write loop of the POSIX devices, serial ports and network sockets alike: every byte written, with
// interrupted and partial writes retried and a full buffer waited out, until the device fails or is
// interrupted.

#include "link/SerialDevice.h"

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace tessor {

// One attempt to write len bytes from data: the count written, or -1 with errno set (as write and send).
using WriteAttempt = std::function<ssize_t(const std::uint8_t* data, std::size_t len)>;
// What a device makes of an attempt that wrote nothing for another reason than EINTR or a full buffer:
// the attempt's return (0 or -1), its errno (0 when it returned 0) and the bytes written before it.
using WriteFailure = std::function<IoResult(ssize_t returned, int error, std::size_t done)>;

struct WriteLoop {
    int fd = -1;     // polled for room when the buffer is full
    int wakeFd = -1; // readable once the device is interrupted, which ends a wait for room
    const std::atomic<bool>* interrupted = nullptr;
    bool hangUpOnPollError = false; // POLLHUP or POLLERR on fd while waiting for room: hung up (EIO)
    WriteAttempt attempt;
    WriteFailure failure;
};

IoResult WriteAll(const WriteLoop& loop, const std::uint8_t* data, std::size_t len);

} // namespace tessor
