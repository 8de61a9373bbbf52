#pragma once

#include "link/SerialDevice.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct telnet_t;
union telnet_event_t;

namespace tessor {

// The telnet side of an RFC 2217 connection, without the socket: bytes received go in, the console's
// bytes come out unescaped; console bytes to send go in, the escaped stream comes out, together with
// every option answer the telnet state machine owes the server. The telnet protocol itself (option
// state, IAC escaping, subnegotiation framing) is libtelnet's.
class Rfc2217Codec {
public:
    // How far the opening negotiation has come. A refused option is settled quietly by the telnet state
    // machine, so a refusal stays Pending like silence: the caller's time bound ends both.
    enum class Negotiation {
        Pending, // still waiting for an answer
        Ready    // binary both ways and the COM-PORT-OPTION accepted, the line settings answered
    };

    explicit Rfc2217Codec(const LineSettings& settings);
    ~Rfc2217Codec();
    Rfc2217Codec(const Rfc2217Codec&) = delete;
    Rfc2217Codec& operator=(const Rfc2217Codec&) = delete;

    // Queues the opening offers: binary both ways, suppress go-ahead, COM-PORT-OPTION.
    void Start();
    // Takes bytes from the server.
    void Receive(const std::uint8_t* data, std::size_t len);
    // Takes console bytes to send; every 0xFF is doubled.
    void Send(const std::uint8_t* data, std::size_t len);

    // The bytes to put on the socket now, in order.
    std::vector<std::uint8_t> TakeOutgoing();
    // Moves up to len console bytes received into out; returns how many.
    std::size_t TakeData(std::uint8_t* out, std::size_t len);
    bool HasData() const { return m_dataStart < m_data.size(); }
    void DiscardData();

    Negotiation State() const;

private:
    static void OnEvent(telnet_t* telnet, telnet_event_t* event, void* self);
    void Handle(const telnet_event_t& event);
    void OnOptionAccepted(int command, unsigned char option);
    void OnComPortAnswer(const char* buffer, std::size_t size);
    void SendLineSettings();
    void SendComPortCommand(std::uint8_t command, const std::vector<std::uint8_t>& value);
    // Console bytes received; outside binary mode a CR comes as CR NUL, and the NUL is dropped.
    void TakeConsoleBytes(const std::uint8_t* data, std::size_t size);

    LineSettings m_settings;
    telnet_t* m_telnet = nullptr;
    std::vector<std::uint8_t> m_outgoing;
    std::vector<std::uint8_t> m_data;
    std::size_t m_dataStart = 0;
    bool m_binaryIn = false;  // the server sends binary
    bool m_binaryOut = false; // we send binary
    bool m_comPort = false;   // the server accepted the COM-PORT-OPTION
    bool m_settingsSent = false;
    bool m_afterCr = false; // the last console byte received was a CR
    unsigned m_answers = 0; // bit n: the server answered line-setting command n
};

} // namespace tessor
