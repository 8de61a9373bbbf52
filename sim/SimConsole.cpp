#include "sim/SimConsole.h"

#include "sim/SimRegisters.h"

#include <cctype>
#include <cstdio>

namespace tessor::sim {

namespace {

constexpr char kErrorData[] = "\rERROR";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads 1..maxDigits hexadecimal digits at pos; returns false when there are none or too many.
bool ParseHex(const std::string& s, std::size_t* pos, std::size_t maxDigits, unsigned* value) {
    std::size_t digits = 0;
    unsigned v = 0;
    while (*pos < s.size() && HexDigit(s[*pos]) >= 0) {
        v = v * 16 + static_cast<unsigned>(HexDigit(s[*pos]));
        ++*pos;
        ++digits;
    }
    *value = v;
    return digits >= 1 && digits <= maxDigits;
}

void SkipBlanks(const std::string& s, std::size_t* pos) {
    while (*pos < s.size() && IsBlank(s[*pos])) {
        ++*pos;
    }
}

} // namespace

CSimConsole::CSimConsole(CSimModemPair& pair) : m_pair(pair) {}

void CSimConsole::Receive(const std::string& text) {
    Receive(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void CSimConsole::Receive(const std::uint8_t* data, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        const char c = static_cast<char>(data[i]);
        if (m_silent) {
            continue;
        }
        if (c == '\n' && m_lastWasCr) {
            // The line feed of a carriage return + line feed pair: the line has already ended.
            m_lastWasCr = false;
            continue;
        }
        m_lastWasCr = c == '\r';
        if (m_noiseBeforeEcho > 0 && m_line.empty() && c != '\n' && c != '\r') {
            const std::size_t count = m_noiseBeforeEcho;
            m_noiseBeforeEcho = 0;
            InjectNoise(count);
        }
        if (c == '\n' || c == '\r') {
            EndLine();
            continue;
        }
        if (c == '\b' || c == 0x7F) {
            if (!m_line.empty()) {
                m_line.pop_back();
                Emit("\b \b");
            }
            continue;
        }
        if (m_line.size() >= kMaxLine) {
            m_overflow = true;
            continue;
        }
        m_line.push_back(c);
        char echo = c;
        if (m_corruptEcho) {
            m_corruptEcho = false;
            m_streamClean = false;
            echo = c == '?' ? '!' : '?';
        }
        Emit(std::string(1, echo));
    }
}

void CSimConsole::EndLine() {
    std::string line;
    line.swap(m_line);
    const bool overflow = m_overflow;
    m_overflow = false;
    if (line.find_first_not_of(" \t") == std::string::npos) {
        Emit(std::string("\n\r") + kPromptLetter + ">", m_replyDelayMs);
        m_streamClean = true;
        return;
    }
    m_replyIntact = m_streamClean;
    const std::string data = overflow ? std::string(kErrorData) : Execute(line);
    m_replyIntact = true;
    Emit("\n" + data + "\n\r" + kPromptLetter + ">", m_replyDelayMs);
    m_streamClean = true;
}

std::string CSimConsole::Execute(const std::string& line) {
    m_pair.BeginCommand();

    std::size_t pos = 0;
    SkipBlanks(line, &pos);
    if (pos + 2 > line.size()) {
        return kErrorData;
    }
    const std::string word = {static_cast<char>(std::toupper(static_cast<unsigned char>(line[pos]))),
                              static_cast<char>(std::toupper(static_cast<unsigned char>(line[pos + 1])))};
    pos += 2;
    if (word != "RD" && word != "WR" && word != "OR" && word != "ND") {
        return kErrorData;
    }
    if (pos >= line.size() || !IsBlank(line[pos])) {
        return kErrorData;
    }
    SkipBlanks(line, &pos);
    unsigned address = 0;
    if (!ParseHex(line, &pos, 4, &address)) {
        return kErrorData;
    }

    if (word == "RD") {
        unsigned count = 1;
        if (pos < line.size() && (line[pos] == ',' || IsBlank(line[pos]))) {
            ++pos;
            SkipBlanks(line, &pos);
            if (pos < line.size()) {
                if (line[pos] < '1' || line[pos] > '9') {
                    return kErrorData;
                }
                count = static_cast<unsigned>(line[pos] - '0');
                ++pos;
            }
        }
        SkipBlanks(line, &pos);
        if (pos != line.size() || address + count - 1 > 0xFFFF) {
            return kErrorData;
        }
        const auto fault = m_replyFaults.find(static_cast<std::uint16_t>(address));
        return ReadData(address, count, fault == m_replyFaults.end() ? ReplyFault::Normal : fault->second);
    }

    if (pos >= line.size() || !IsBlank(line[pos])) {
        return kErrorData;
    }
    SkipBlanks(line, &pos);
    unsigned value = 0;
    if (!ParseHex(line, &pos, 2, &value)) {
        return kErrorData;
    }
    SkipBlanks(line, &pos);
    if (pos != line.size()) {
        return kErrorData;
    }
    const auto reg = static_cast<std::uint16_t>(address);
    const auto byte = static_cast<std::uint8_t>(value);
    const std::uint8_t current = m_pair.PeekRegister(CSimModemPair::kLocal, reg);
    if (word == "WR") {
        m_pair.WriteRegister(CSimModemPair::kLocal, reg, byte);
    } else if (word == "OR") {
        m_pair.WriteRegister(CSimModemPair::kLocal, reg, static_cast<std::uint8_t>(current | byte));
    } else {
        m_pair.WriteRegister(CSimModemPair::kLocal, reg, static_cast<std::uint8_t>(current & byte));
    }
    return "";
}

// The data portion of a read of count registers from address, spoilt as the fault says.
std::string CSimConsole::ReadData(unsigned address, unsigned count, ReplyFault fault) {
    if (fault == ReplyFault::Error) {
        return kErrorData;
    }
    if (fault != ReplyFault::Normal) {
        m_replyIntact = false; // whatever a counter value this reply carries, the reader loses it
    }
    const unsigned shown = fault == ReplyFault::WrongAddress ? (address + 0x10) & 0xFFFF : address;
    char text[8];
    std::snprintf(text, sizeof text, "%04X:", shown);
    std::string data = std::string("\r") + text;
    for (unsigned i = 0; i < count; ++i) {
        const auto current = static_cast<std::uint16_t>(address + i);
        const std::uint8_t value = m_pair.ReadRegister(CSimModemPair::kLocal, current);
        std::snprintf(text, sizeof text, " %02X", value);
        data += text;
        if (current >= reg::kEthCounterFirst && current < reg::kEthCounterEnd &&
            (current - reg::kEthCounterFirst) % 4 == 0) {
            // This read took the counter's snapshot; it counts as delivered only if all four bytes go
            // out.
            const auto& latch = m_pair.Modem(CSimModemPair::kLocal).latch;
            const std::uint32_t snapshot =
                static_cast<std::uint32_t>(latch[0]) | static_cast<std::uint32_t>(latch[1]) << 8 |
                static_cast<std::uint32_t>(latch[2]) << 16 | static_cast<std::uint32_t>(latch[3]) << 24;
            m_deliveries.push_back(CounterDelivery{current, snapshot, m_replyIntact && i + 3 < count});
        }
    }
    if (fault == ReplyFault::Short) {
        data.resize(data.size() - 3);
    } else if (fault == ReplyFault::Empty) {
        data.clear();
    }
    return data;
}

void CSimConsole::SetReplyFault(std::uint16_t address, ReplyFault fault) {
    if (fault == ReplyFault::Normal) {
        m_replyFaults.erase(address);
    } else {
        m_replyFaults[address] = fault;
    }
}

void CSimConsole::Emit(std::string bytes, int delayMs) {
    if (m_silent || bytes.empty()) {
        return;
    }
    if (!m_output.empty() && delayMs == 0) {
        m_output.back().bytes += bytes;
        return;
    }
    m_output.push_back(OutputChunk{delayMs, std::move(bytes)});
}

std::vector<OutputChunk> CSimConsole::TakeOutput() {
    std::vector<OutputChunk> out;
    out.swap(m_output);
    return out;
}

void CSimConsole::SetSilent(bool silent) {
    if (silent == m_silent) {
        return;
    }
    m_silent = silent;
    m_line.clear();
    m_overflow = false;
    m_lastWasCr = false;
    if (!silent) {
        // This prompt ends the read of a reader still waiting for the dropped command's reply.
        Emit(std::string("\n\r") + kPromptLetter + ">");
        m_streamClean = true;
    }
}

void CSimConsole::CorruptNextEcho() {
    m_corruptEcho = true;
}

void CSimConsole::NoteOutputDiscarded() {
    if (m_line.empty())
        m_streamClean = true;
}

std::vector<CounterDelivery> CSimConsole::TakeCounterDeliveries() {
    std::vector<CounterDelivery> out;
    out.swap(m_deliveries);
    return out;
}

void CSimConsole::InjectNoise(std::size_t count) {
    std::string noise;
    while (noise.size() < count) {
        // xorshift32: repeatable noise
        m_noiseState ^= m_noiseState << 13;
        m_noiseState ^= m_noiseState >> 17;
        m_noiseState ^= m_noiseState << 5;
        const char c = static_cast<char>(m_noiseState & 0xFF);
        if (c == 'L' || c == 'M' || c == 'R' || c == '>' || c == '\n' || c == '\r' || c == 0) {
            continue;
        }
        noise.push_back(c);
    }
    if (!m_silent && !noise.empty()) {
        m_streamClean = false;
    }
    Emit(noise);
}

void CSimConsole::SetReplyDelayMs(int ms) {
    m_replyDelayMs = ms < 0 ? 0 : ms;
}

} // namespace tessor::sim
