#pragma once

#include "link/NetworkPortName.h"
#include "link/NetworkSocket.h"
#include "link/Rfc2217Codec.h"
#include "link/SerialDevice.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace tessor {

bool IsNetworkErrorCode(int err);
std::string NetworkErrorMessage(int err);
// Whether the console server ended the connection: closed it, or reset or aborted it.
bool IsEndedByServer(int err);

// How long the opening may take: the connection, then the telnet negotiation.
struct NetworkTimeouts {
    std::chrono::milliseconds connect{3000};
    std::chrono::milliseconds negotiation{2000};
};

// A serial port offered by a console server: a TCP connection with no delay and keep-alive, the bytes
// as they are (socket://) or through telnet with the COM-PORT-OPTION (rfc2217://). Reads wait on the
// socket and a wake-up (NetworkSocket), so Interrupt() ends them; a connection that ends is the device
// lost (HungUp), which the console port reopens like an unplugged adapter.
class NetworkSerialDevice : public SerialDevice {
public:
    // Connects and, for rfc2217://, negotiates and sets the line; null with *errorCode set on failure. A
    // connection the server ends during the negotiation is kNetworkPortBusy: nothing of the console can
    // have come yet, so the server turned it away.
    static std::unique_ptr<NetworkSerialDevice> Open(const std::string& name, const LineSettings& settings,
                                                     int* errorCode, NetworkTimeouts timeouts = {});
    ~NetworkSerialDevice() override;

    IoResult Write(const std::uint8_t* data, std::size_t len) override;
    IoResult Read(std::uint8_t* data, std::size_t len) override;
    // Discards what has arrived and not been read; what is still on its way cannot be called back.
    bool Purge() override;
    void Interrupt() override;

private:
    NetworkSerialDevice(std::unique_ptr<NetworkSocket> socket, std::unique_ptr<Rfc2217Codec> codec);
    int Negotiate(std::chrono::milliseconds bound);
    // Sends raw bytes (already escaped); Ok, or why not.
    IoResult SendAll(const std::uint8_t* data, std::size_t len);
    IoResult FlushCodec();
    // One receive (after waiting up to timeoutMs if wait is set) into the codec or the caller's buffer;
    // count is the console bytes put into data, *received the bytes taken off the socket.
    IoResult ReceiveOnce(std::uint8_t* data, std::size_t len, bool wait, int timeoutMs,
                         std::size_t* received = nullptr);

    std::unique_ptr<NetworkSocket> m_socket;
    std::unique_ptr<Rfc2217Codec> m_codec; // null for socket://
    std::mutex m_codecMutex;
    std::atomic<bool> m_interrupted{false};
};

} // namespace tessor
