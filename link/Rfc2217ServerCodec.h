#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct telnet_t;
union telnet_event_t;

namespace tessor {

// The accepting side of an RFC 2217 connection, without the socket: binary both ways and suppress
// go-ahead are granted, the COM-PORT-OPTION accepted, and each of the client's line settings answered
// as taken (the console behind is already open at its own settings). Bytes received go in, the client's
// console bytes come out; console bytes for the client go in, the escaped stream comes out.
class Rfc2217ServerCodec {
public:
    Rfc2217ServerCodec();
    ~Rfc2217ServerCodec();
    Rfc2217ServerCodec(const Rfc2217ServerCodec&) = delete;
    Rfc2217ServerCodec& operator=(const Rfc2217ServerCodec&) = delete;

    // Takes bytes from the client.
    void Receive(const std::uint8_t* data, std::size_t len);
    // Takes console bytes for the client; every 0xFF is doubled.
    void Send(const std::uint8_t* data, std::size_t len);
    // The bytes to put on the socket now, in order.
    std::vector<std::uint8_t> TakeOutgoing();
    // The client's console bytes received so far (taken).
    std::vector<std::uint8_t> TakeData();

private:
    static void OnEvent(telnet_t* telnet, telnet_event_t* event, void* self);
    void Handle(const telnet_event_t& event);

    telnet_t* m_telnet = nullptr;
    std::vector<std::uint8_t> m_outgoing;
    std::vector<std::uint8_t> m_data;
};

} // namespace tessor
