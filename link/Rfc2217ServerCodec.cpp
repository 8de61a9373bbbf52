#include "link/Rfc2217ServerCodec.h"

#include <libtelnet.h>

namespace tessor {

namespace {

constexpr unsigned char kComPortOption = 44;
// The server answers a client's COM-PORT-OPTION command with the command plus 100.
constexpr unsigned char kServerAnswerOffset = 100;
constexpr unsigned char kLastClientCommand = 12;

// What this side grants: binary and suppress go-ahead both ways, the client's WILL COM-PORT-OPTION.
const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {kComPortOption, TELNET_WONT, TELNET_DO},
    {-1, 0, 0},
};

} // namespace

Rfc2217ServerCodec::Rfc2217ServerCodec()
    : m_telnet(telnet_init(kOptions, &Rfc2217ServerCodec::OnEvent, 0, this)) {}

Rfc2217ServerCodec::~Rfc2217ServerCodec() {
    if (m_telnet)
        telnet_free(m_telnet);
}

void Rfc2217ServerCodec::Receive(const std::uint8_t* data, std::size_t len) {
    telnet_recv(m_telnet, reinterpret_cast<const char*>(data), len);
}

void Rfc2217ServerCodec::Send(const std::uint8_t* data, std::size_t len) {
    telnet_send(m_telnet, reinterpret_cast<const char*>(data), len);
}

std::vector<std::uint8_t> Rfc2217ServerCodec::TakeOutgoing() {
    std::vector<std::uint8_t> out;
    out.swap(m_outgoing);
    return out;
}

std::vector<std::uint8_t> Rfc2217ServerCodec::TakeData() {
    std::vector<std::uint8_t> out;
    out.swap(m_data);
    return out;
}

void Rfc2217ServerCodec::OnEvent(telnet_t*, telnet_event_t* event, void* self) {
    static_cast<Rfc2217ServerCodec*>(self)->Handle(*event);
}

void Rfc2217ServerCodec::Handle(const telnet_event_t& event) {
    switch (event.type) {
    case TELNET_EV_DATA:
        m_data.insert(m_data.end(), reinterpret_cast<const std::uint8_t*>(event.data.buffer),
                      reinterpret_cast<const std::uint8_t*>(event.data.buffer) + event.data.size);
        break;
    case TELNET_EV_SEND:
        m_outgoing.insert(m_outgoing.end(), reinterpret_cast<const std::uint8_t*>(event.data.buffer),
                          reinterpret_cast<const std::uint8_t*>(event.data.buffer) + event.data.size);
        break;
    case TELNET_EV_SUBNEGOTIATION: {
        if (event.sub.telopt != kComPortOption || event.sub.size < 1)
            break;
        const auto command = static_cast<unsigned char>(event.sub.buffer[0]);
        if (command > kLastClientCommand)
            break;
        // Accepted as asked: the same value comes back under the server's command code.
        std::vector<char> answer(event.sub.buffer, event.sub.buffer + event.sub.size);
        answer[0] = static_cast<char>(command + kServerAnswerOffset);
        telnet_subnegotiation(m_telnet, kComPortOption, answer.data(), answer.size());
        break;
    }
    default:
        break; // option answers are libtelnet's; warnings and other commands are ignored
    }
}

} // namespace tessor
