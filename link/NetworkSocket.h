#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tessor {

// Error numbers of the network device beside the system's own (ECONNREFUSED or WSAECONNREFUSED, ...).
// They are negative, so they never meet a system error number; SystemErrorMessage words them.
enum NetworkErrorCode : int {
    kNetworkBadName = -1001,        // starts like a network name but is none
    kNetworkNameNotFound = -1002,   // the host name does not resolve
    kNetworkClosedByServer = -1003, // the server ended the connection
    kNetworkPortBusy = -1004        // the server ended (or reset) it before the console said anything
};

// Whether a system error number means the other side reset or aborted the connection.
bool IsConnectionResetError(int err);

// A connected TCP socket (no delay, keep-alive, each received segment acknowledged at once) and a way for
// another thread to wake a wait on it: the part of the network device that differs between systems.
// POSIX waits in poll() on the socket and a wake-up pipe, Winsock on the socket's event and a wake-up
// event. Sends and receives never block.
class NetworkSocket {
public:
    enum class WaitResult { Ready, TimedOut, Woken, Failed };
    struct Transfer {
        enum Status { Done, WouldBlock, Closed, Failed };
        Status status = Done;
        std::size_t count = 0;
        int error = 0; // system error number for Failed
    };

    // Tries every address of the host until one accepts, all within the timeout; null with *error set.
    static std::unique_ptr<NetworkSocket> Connect(const std::string& host, std::uint16_t port,
                                                  std::chrono::milliseconds timeout, int* error);
    ~NetworkSocket();
    NetworkSocket(const NetworkSocket&) = delete;
    NetworkSocket& operator=(const NetworkSocket&) = delete;

    Transfer Send(const std::uint8_t* data, std::size_t len);
    Transfer Receive(std::uint8_t* data, std::size_t len);
    // Waits until the socket can be read (or written), timeoutMs has passed (-1: no bound) or Wake() has
    // been called; Failed sets *error.
    WaitResult Wait(bool writable, int timeoutMs, int* error);
    // Ends the current wait and every later one.
    void Wake();

    struct Handles; // the system's own handles

private:
    explicit NetworkSocket(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> m_handles;
};

} // namespace tessor
