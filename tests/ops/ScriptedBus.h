#pragma once

// A bus that answers from a register map the way the board would, records every operation as its
// console line, and fails the operations a test scripts.

#include "link/ConsolePort.h"
#include "link/RegisterBus.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessor::opstest {

class CScriptedBus : public IRegisterBus {
public:
    // Line up, mailbox free; a mailbox operation completes at once unless mailboxCompletes is false.
    CScriptedBus() : regs{{"8C71", 0xC0}, {"8C00", 0x80}, {"8CC0", 0}} {}

    RegResult Exchange(std::uint8_t op, const char* address, const char* value) override {
        const std::string a(address, 4);
        const std::string v(value, 2);
        lines.push_back(Line(op, a, v));
        if (latched)
            return RegResult::Fail(*latched);
        if (fail) {
            if (const std::optional<Outcome> o = fail(lines.size() - 1, lines.back())) {
                // Like the transport, a board that did not answer is not asked again.
                if (*o != Outcome::Garbled)
                    latched = o;
                return RegResult::Fail(*o);
            }
        }
        if (op == kRead)
            return Read(a, v[1] - '0');
        if (op == kWrite) {
            regs[a] = std::strtol(v.c_str(), nullptr, 16);
            if (a == "8CC0" && mailboxCompletes) {
                regs["8CC4"] = v[1] - '0';
                regs["8CC0"] = 0; // done: free again
            }
        }
        return RegResult::Answer(1);
    }

    // A read of n registers: one reads its entry whole; more read each register's byte from the nearest
    // entry at most 7 registers below it (an entry may hold a counter's four registers as one value).
    RegResult Read(const std::string& a, int n) {
        RegResult r = RegResult::Answer(n == 1 ? regs[a] : 0);
        for (long reg = std::strtol(a.c_str(), nullptr, 16), i = 0; i < n; ++i) {
            char text[8];
            long e = reg + i;
            while (std::snprintf(text, sizeof text, "%04lX", e) > 0 && !regs.count(text) && e > reg + i - 7)
                --e;
            const auto it = regs.find(text);
            const std::uint64_t entry = it == regs.end() ? 0 : static_cast<std::uint64_t>(it->second);
            r.bytes.push_back(static_cast<std::uint8_t>(entry >> (8 * (reg + i - e))));
            r.value |= n == 1 ? 0 : static_cast<std::int64_t>(r.bytes.back()) << (8 * i);
        }
        return r;
    }

    static std::string Line(std::uint8_t op, const std::string& a, const std::string& v) {
        static const char* const kWords[] = {"RD", "WR", "OR", "ND"};
        std::string line = std::string(kWords[op - 1]) + " " + a;
        if (op != kRead)
            return line + " " + v;
        return v[1] == '1' ? line : line + "," + v[1];
    }

    std::map<std::string, std::int64_t> regs;
    bool mailboxCompletes = true;
    // Step index and console line of an operation; an outcome fails it.
    std::function<std::optional<Outcome>(std::size_t step, const std::string& line)> fail;
    std::vector<std::string> lines;
    std::optional<Outcome> latched;
};

// Fails the operation at one step with the given outcome.
inline std::function<std::optional<Outcome>(std::size_t, const std::string&)> FailAt(std::size_t at,
                                                                                     Outcome outcome) {
    return [at, outcome](std::size_t step, const std::string&) -> std::optional<Outcome> {
        return step == at ? std::optional<Outcome>(outcome) : std::nullopt;
    };
}

} // namespace tessor::opstest
