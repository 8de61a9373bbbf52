#pragma once

// Register configuration files (*.NT, *.LT): a two-character header naming the modem type, then records
// "\r\n" + four-digit address + ":" + two-digit value, without a line end after the last record.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessor {

// Modem side as the rest of the tool numbers it: 0 not yet known, 1 LT, 2 NT.
inline constexpr std::uint8_t kConfigSideLT = 1;
inline constexpr std::uint8_t kConfigSideNT = 2;

// The registers a saved file holds, in file order.
inline constexpr std::size_t kConfigRegisterCount = 31;
inline constexpr std::array<std::string_view, kConfigRegisterCount> kConfigRegisters{
    "8C40", "8C41", "8C42", "8C43", "8C44", "8C45", "8C46", "8C47", "8C48", "8C49", "8C4A",
    "8C4B", "8C4C", "8C4D", "8C4E", "8C4F", "8C50", "8C51", "8C60", "8C61", "8C66", "8C67",
    "8C6B", "8D40", "8D41", "8D42", "8D45", "8D46", "8D47", "8D48", "8D49"};

// Size of a file with all of kConfigRegisters: header plus 31 records of 9 bytes.
inline constexpr std::size_t kConfigFileSize = 2 + 9 * kConfigRegisterCount;

// The factory table of Set to Default, as register and byte text: the common part written to every modem,
// then the LT profile (the local modem when it is LT) or the NT profile (any other modem). The registers
// of the two profiles are those whose bytes differ between the LT and the NT side.
struct ConfigDefault {
    const char* address;
    const char* value;
};
extern const std::array<ConfigDefault, 15> kCommonDefaults;
extern const std::array<ConfigDefault, 10> kLtProfileDefaults;
extern const std::array<ConfigDefault, 12> kNtProfileDefaults;

// Whether a register of kConfigRegisters ("8C47") holds the same meaning on the LT and the NT side: false
// for the registers a side profile writes (after the load mapping).
bool ConfigRegisterMeansSameOnBothSides(std::string_view savedAddress);

// File bytes for the values read from kConfigRegisters, in the same order. Side NT gives the header
// "NT", any other side "LT".
std::string WriteConfigFile(std::uint8_t modemSide,
                            const std::array<std::uint8_t, kConfigRegisterCount>& values);

// Register a loaded record is written to. The 8C40..8C51 range reads back 8C10..8C21, so an address whose
// second character is 'C' and third is not '6' goes 30 (hexadecimal) lower ("8C40" to "8C10", "8C00" to
// "8BD0"); any other address is kept. Expects four upper-case hexadecimal characters.
std::string LoadTargetAddress(std::string_view address);

// One step of reading a configuration file.
struct ConfigFileStep {
    enum class Kind { Record, End, Error };
    Kind kind = Kind::End;
    std::string address;    // Record: the register to write, already mapped by LoadTargetAddress
    std::uint8_t value = 0; // Record: the byte to write
    std::string message;    // Error: the text for the "Error" box
};

// Reads a configuration file record by record, so that the loader can write each record as soon as it
// has been checked. Next() gives the records in file order, then End once; after a fault it gives one
// Error and from then on the same Error, never another record. Missing bytes at the end of the file count
// as characters that do not match.
//
// With modemSide 1 (LT) or 2 (NT) the header must name that side; with 0 (not yet known) only its form is
// checked.
class ConfigFileReader {
public:
    ConfigFileReader(std::string bytes, std::uint8_t modemSide);

    ConfigFileStep Next();

    // Bytes consumed so far; never beyond the end of the file.
    std::size_t Position() const { return m_position; }

private:
    ConfigFileStep Fail(const char* message);

    std::string m_bytes;
    std::uint8_t m_side;
    std::size_t m_position = 0;
    bool m_headerDone = false;
    bool m_finished = false;
    ConfigFileStep m_last; // the End or Error given once finished
};

} // namespace tessor
