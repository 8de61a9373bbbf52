#pragma once

#include "sim/SimConsole.h"
#include "sim/SimModemPair.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace tessor::sim::test {

// A simulated pair on a manual clock, trained at once unless a test asks for training time.
inline SimConfig TestConfig(ModemSide local = kSideLT, int trainMs = 0, int completeAfter = 1) {
    SimConfig config;
    config.localSide = local;
    config.trainMs = trainMs;
    config.mailboxCompleteAfter = completeAfter;
    config.manualClock = true;
    return config;
}

// Sends text to the console and returns everything the board answers.
inline std::string Exchange(CSimConsole& console, const std::string& text) {
    console.Receive(text);
    std::string out;
    for (const OutputChunk& chunk : console.TakeOutput()) {
        out += chunk.bytes;
    }
    return out;
}

// The value of a one-register read as the console answers it, or -1 if the answer is not a read reply.
inline int ReadByConsole(CSimConsole& console, std::uint16_t address) {
    char command[16];
    std::snprintf(command, sizeof command, "RD %04X\n", address);
    const std::string reply = Exchange(console, command);
    char expectedHead[32];
    std::snprintf(expectedHead, sizeof expectedHead, "RD %04X\n\r%04X: ", address, address);
    const std::string head = expectedHead;
    if (reply.size() != head.size() + 6 || reply.compare(0, head.size(), head) != 0 ||
        reply.compare(head.size() + 2, 4, "\n\rL>") != 0) {
        return -1;
    }
    return std::stoi(reply.substr(head.size(), 2), nullptr, 16);
}

inline bool WriteByConsole(CSimConsole& console, const char* op, std::uint16_t address, std::uint8_t value) {
    char command[24];
    std::snprintf(command, sizeof command, "%s %04X %02X\n", op, address, value);
    const std::string reply = Exchange(console, command);
    return reply == std::string(command, 11) + "\n\rL>";
}

} // namespace tessor::sim::test
