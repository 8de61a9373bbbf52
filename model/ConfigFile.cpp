#include "model/ConfigFile.h"

#include <cstdio>
#include <utility>

namespace tessor {

namespace {

const char* const kHeaderError = "Error in load Configuration file";
const char* const kNotLT = "Configuration does not match to modem type LT";
const char* const kNotNT = "Configuration does not match to modem type NT";
const char* const kBadLineEnd = "Incorrect character in configuration file";
const char* const kBadRegister = "Unknown register in configuration file";
const char* const kBadValue = "Impossible value in configuration file";

// Value of an upper-case hexadecimal digit, or -1 (lower case is not accepted).
int HexDigit(int c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Steps an upper-case hexadecimal digit one down; returns true when it wrapped from 0 to F.
bool DecrementHexDigit(char& digit) {
    if (digit == '0') {
        digit = 'F';
        return true;
    }
    digit = digit == 'A' ? '9' : static_cast<char>(digit - 1);
    return false;
}

} // namespace

const std::array<ConfigDefault, 15> kCommonDefaults{{
    {"8C10", "32"},
    {"8C11", "24"},
    {"8C12", "4F"},
    {"8C13", "00"},
    {"8C14", "E3"},
    {"8C15", "00"},
    {"8C1E", "01"},
    {"8D40", "3E"},
    {"8D41", "E1"},
    {"8D42", "22"},
    {"8D43", "F0"},
    {"8D45", "D0"},
    {"8D46", "CD"},
    {"8D48", "00"},
    {"8D49", "80"},
}};

const std::array<ConfigDefault, 10> kLtProfileDefaults{{
    {"8D47", "BF"},
    {"8C17", "C9"},
    {"8C18", "01"},
    {"8C19", "6F"},
    {"8C1A", "8A"},
    {"8C1B", "4A"},
    {"8C1C", "92"},
    {"8C1D", "06"},
    {"8C67", "05"},
    {"8C21", "00"},
}};

const std::array<ConfigDefault, 12> kNtProfileDefaults{{
    {"8D47", "3F"},
    {"8C17", "00"},
    {"8C18", "04"},
    {"8C1F", "10"},
    {"8C20", "00"},
    {"8C19", "56"},
    {"8C1A", "61"},
    {"8C1B", "51"},
    {"8C1C", "D7"},
    {"8C1D", "04"},
    {"8C67", "00"},
    {"8C21", "00"},
}};

bool ConfigRegisterMeansSameOnBothSides(std::string_view savedAddress) {
    const std::string target = LoadTargetAddress(savedAddress);
    const auto writes = [&target](const auto& profile) {
        for (const ConfigDefault& entry : profile) {
            if (target == entry.address) {
                return true;
            }
        }
        return false;
    };
    return !writes(kLtProfileDefaults) && !writes(kNtProfileDefaults);
}

std::string WriteConfigFile(std::uint8_t modemSide,
                            const std::array<std::uint8_t, kConfigRegisterCount>& values) {
    std::string file = modemSide == kConfigSideNT ? "NT" : "LT";
    file.reserve(kConfigFileSize);
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        char value[3];
        std::snprintf(value, sizeof value, "%02X", static_cast<unsigned>(values[i]));
        file += "\r\n";
        file += kConfigRegisters[i];
        file += ':';
        file += value;
    }
    return file;
}

std::string LoadTargetAddress(std::string_view address) {
    std::string target(address);
    if (target.size() == 4 && target[1] == 'C' && target[2] != '6') {
        for (int step = 0; step < 3; ++step) {
            if (DecrementHexDigit(target[2])) {
                DecrementHexDigit(target[1]);
            }
        }
    }
    return target;
}

ConfigFileReader::ConfigFileReader(std::string bytes, std::uint8_t modemSide)
    : m_bytes(std::move(bytes)), m_side(modemSide) {}

ConfigFileStep ConfigFileReader::Fail(const char* message) {
    m_finished = true;
    m_last = ConfigFileStep{};
    m_last.kind = ConfigFileStep::Kind::Error;
    m_last.message = message;
    return m_last;
}

ConfigFileStep ConfigFileReader::Next() {
    if (m_finished) {
        return m_last;
    }
    if (!m_headerDone) {
        if (m_bytes.size() < 2 || m_bytes[1] != 'T') {
            return Fail(kHeaderError);
        }
        if (m_side == kConfigSideLT && m_bytes[0] != 'L') {
            return Fail(kNotLT);
        }
        if (m_side == kConfigSideNT && m_bytes[0] != 'N') {
            return Fail(kNotNT);
        }
        m_headerDone = true;
        m_position = 2;
    }
    if (m_position >= m_bytes.size()) {
        m_finished = true;
        m_last = ConfigFileStep{};
        return m_last;
    }

    // Byte at an offset into the current record; -1 past the end of the file, which matches nothing.
    const auto at = [this](std::size_t offset) -> int {
        const std::size_t index = m_position + offset;
        return index < m_bytes.size() ? static_cast<unsigned char>(m_bytes[index]) : -1;
    };
    if (at(0) != '\r' || at(1) != '\n') {
        return Fail(kBadLineEnd);
    }
    for (std::size_t offset = 2; offset < 6; ++offset) {
        if (HexDigit(at(offset)) < 0) {
            return Fail(kBadRegister);
        }
    }
    if (at(6) != ':') {
        return Fail(kBadRegister);
    }
    const int high = HexDigit(at(7));
    const int low = HexDigit(at(8));
    if (high < 0 || low < 0) {
        return Fail(kBadValue);
    }

    ConfigFileStep step;
    step.kind = ConfigFileStep::Kind::Record;
    step.address = LoadTargetAddress(std::string_view(m_bytes).substr(m_position + 2, 4));
    step.value = static_cast<std::uint8_t>(high * 16 + low);
    m_position += 9;
    return step;
}

} // namespace tessor
