#pragma once

#include "linetest/LineTest.h"

#include <QString>

#include <cstdint>
#include <string>

namespace tessor {

// The per-user settings store: organisation "Calvadra", the program's name as application, section
// "Settings" with the last COM port ("Port") and crystal ("Frequency") choices, each a byte.
struct StartupChoices {
    std::uint8_t portIndex = 0;
    std::uint8_t crystalIndex = 2;
};

StartupChoices ReadStartupChoices();
void WriteStartupChoices(const StartupChoices& choices);

// The device stored for COMn under "Ports/COMn", or empty.
std::string StoredComDevice(int n);
// Stores the device for COMn; an empty path removes the setting (COMn then means its default device).
void StoreComDevice(int n, const std::string& path);

// The line test's choices, section "LineTest": duration, site, operator and the criteria.
struct LineTestChoices {
    int durationMinutes = 15;
    QString site;
    QString operatorName;
    linetest::Criteria criteria;
};
LineTestChoices ReadLineTestChoices();
void WriteLineTestChoices(const LineTestChoices& choices);

// What the user can do about a COM port that would not open: which device was tried and why it failed.
// Starts with a blank line so it can follow the standard message.
QString PortProblemDetail(std::uint8_t portIndex, int errorCode);

} // namespace tessor
