#include "link/Rfc2217Codec.h"

#include <libtelnet.h>

namespace tessor {

namespace {

constexpr unsigned char kComPortOption = 44;
// Client commands of the COM-PORT-OPTION; the server answers each with the command plus 100.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kServerAnswerOffset = 100;
// SET-CONTROL values: no flow control, DTR on, RTS on.
constexpr std::uint8_t kControlNoFlow = 1;
constexpr std::uint8_t kControlDtrOn = 8;
constexpr std::uint8_t kControlRtsOn = 11;
// The answers the opening waits for: baud rate, data size, parity, stop size and flow control. The
// modem lines are asked for but not waited for: a server on a pseudo-terminal has none.
constexpr unsigned kAllAnswers = (1u << kSetBaudRate) | (1u << kSetDataSize) | (1u << kSetParity) |
                                 (1u << kSetStopSize) | (1u << kSetControl);

const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {kComPortOption, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

std::uint8_t ParityCode(std::uint8_t parity) {
    return parity == 1 ? 2 : parity == 2 ? 3 : 1; // none 1, odd 2, even 3
}

std::uint8_t StopSizeCode(std::uint8_t stopBits) {
    return stopBits == 1 ? 3 : stopBits == 2 ? 2 : 1; // one 1, two 2, one and a half 3
}

} // namespace

Rfc2217Codec::Rfc2217Codec(const LineSettings& settings)
    : m_settings(settings), m_telnet(telnet_init(kOptions, &Rfc2217Codec::OnEvent, 0, this)) {}

Rfc2217Codec::~Rfc2217Codec() {
    if (m_telnet)
        telnet_free(m_telnet);
}

void Rfc2217Codec::Start() {
    telnet_negotiate(m_telnet, TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(m_telnet, TELNET_DO, TELNET_TELOPT_BINARY);
    telnet_negotiate(m_telnet, TELNET_WILL, TELNET_TELOPT_SGA);
    telnet_negotiate(m_telnet, TELNET_DO, TELNET_TELOPT_SGA);
    telnet_negotiate(m_telnet, TELNET_WILL, kComPortOption);
}

void Rfc2217Codec::Receive(const std::uint8_t* data, std::size_t len) {
    telnet_recv(m_telnet, reinterpret_cast<const char*>(data), len);
}

void Rfc2217Codec::Send(const std::uint8_t* data, std::size_t len) {
    telnet_send(m_telnet, reinterpret_cast<const char*>(data), len);
}

std::vector<std::uint8_t> Rfc2217Codec::TakeOutgoing() {
    std::vector<std::uint8_t> out;
    out.swap(m_outgoing);
    return out;
}

std::size_t Rfc2217Codec::TakeData(std::uint8_t* out, std::size_t len) {
    std::size_t n = 0;
    while (n < len && m_dataStart < m_data.size())
        out[n++] = m_data[m_dataStart++];
    if (m_dataStart == m_data.size())
        DiscardData();
    return n;
}

void Rfc2217Codec::DiscardData() {
    m_data.clear();
    m_dataStart = 0;
}

Rfc2217Codec::Negotiation Rfc2217Codec::State() const {
    if (m_binaryIn && m_binaryOut && m_comPort && (m_answers & kAllAnswers) == kAllAnswers)
        return Negotiation::Ready;
    return Negotiation::Pending;
}

void Rfc2217Codec::OnEvent(telnet_t*, telnet_event_t* event, void* self) {
    static_cast<Rfc2217Codec*>(self)->Handle(*event);
}

void Rfc2217Codec::Handle(const telnet_event_t& event) {
    switch (event.type) {
    case TELNET_EV_DATA:
        TakeConsoleBytes(reinterpret_cast<const std::uint8_t*>(event.data.buffer), event.data.size);
        break;
    case TELNET_EV_SEND:
        m_outgoing.insert(m_outgoing.end(), reinterpret_cast<const std::uint8_t*>(event.data.buffer),
                          reinterpret_cast<const std::uint8_t*>(event.data.buffer) + event.data.size);
        break;
    case TELNET_EV_WILL:
    case TELNET_EV_DO:
        OnOptionAccepted(event.type, event.neg.telopt);
        break;
    case TELNET_EV_WONT:
        if (event.neg.telopt == TELNET_TELOPT_BINARY)
            m_binaryIn = false; // binary receive ended: CR NUL again
        break;
    case TELNET_EV_SUBNEGOTIATION:
        if (event.sub.telopt == kComPortOption)
            OnComPortAnswer(event.sub.buffer, event.sub.size);
        break;
    default:
        break; // warnings, errors and other commands: libtelnet has already resynchronised
    }
}

void Rfc2217Codec::TakeConsoleBytes(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const bool nulAfterCr = m_afterCr && data[i] == 0 && !m_binaryIn;
        m_afterCr = data[i] == '\r';
        if (!nulAfterCr)
            m_data.push_back(data[i]);
    }
}

void Rfc2217Codec::OnOptionAccepted(int command, unsigned char option) {
    if (option == TELNET_TELOPT_BINARY) {
        if (command == TELNET_EV_WILL)
            m_binaryIn = true;
        else
            m_binaryOut = true;
    } else if (option == kComPortOption && command == TELNET_EV_DO) {
        m_comPort = true;
        SendLineSettings();
    }
}

void Rfc2217Codec::OnComPortAnswer(const char* buffer, std::size_t size) {
    if (size < 1)
        return;
    const int command = static_cast<unsigned char>(buffer[0]) - kServerAnswerOffset;
    if (command >= kSetBaudRate && command <= kSetControl)
        m_answers |= 1u << command;
}

void Rfc2217Codec::SendLineSettings() {
    if (m_settingsSent)
        return;
    m_settingsSent = true;
    const std::uint32_t baud = m_settings.baud;
    SendComPortCommand(kSetBaudRate,
                       {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                        static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)});
    SendComPortCommand(kSetDataSize, {m_settings.byteSize});
    SendComPortCommand(kSetParity, {ParityCode(m_settings.parity)});
    SendComPortCommand(kSetStopSize, {StopSizeCode(m_settings.stopBits)});
    SendComPortCommand(kSetControl, {kControlNoFlow});
    SendComPortCommand(kSetControl, {kControlDtrOn});
    SendComPortCommand(kSetControl, {kControlRtsOn});
}

void Rfc2217Codec::SendComPortCommand(std::uint8_t command, const std::vector<std::uint8_t>& value) {
    std::vector<char> body;
    body.push_back(static_cast<char>(command));
    for (std::uint8_t b : value)
        body.push_back(static_cast<char>(b));
    telnet_subnegotiation(m_telnet, kComPortOption, body.data(), body.size());
}

} // namespace tessor
