#pragma once

// What every subcommand of tessor-cli works with: the global options, the streams, the board link, and
// the common ways to finish (a result, an error with its exit code).

#include "cli/CliSession.h"
#include "link/RegisterBus.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iosfwd>
#include <string>

namespace tessor::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,
    kExitPort = 3,
    kExitNoAnswer = 4,
    kExitFile = 5,
    kExitRefused = 6,
    kExitDiffer = 7, // a line test that did not pass, a board that differs from its file
};

// The product waits 3500 polls of 5 ms for an answer.
inline constexpr int kDefaultAnswerTimeoutMs = 3500 * 5;

struct GlobalOptions {
    std::string port = "COM1";
    bool json = false;
    bool yes = false;
    int answerTimeoutMs = kDefaultAnswerTimeoutMs;
    int retries = 0;
    // status, save and verify read runs of consecutive registers with one command each.
    bool blockReads = false;
};

struct Streams {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    bool inIsTerminal;
};

class Context {
public:
    Context(const GlobalOptions& globalOptions, const Streams& streamSet, CliSession& boardSession)
        : options(globalOptions), streams(streamSet), session(boardSession) {}

    // Prints the result (the JSON document with --json, else the text) and gives kExitOk.
    int Done(const nlohmann::json& document, const std::string& text) const;
    // Prints "tessor-cli: message" on standard error (and with --json an error document on standard
    // output: error names what went wrong, message says it, extra adds members) and gives code.
    int Fail(int code, const std::string& message, const std::string& error = "failed",
             const nlohmann::json& extra = nlohmann::json::object()) const;
    // A register operation that did not succeed: its true reason, naming the device and what to do.
    // Exit 6 for a line that is down (nothing was sent to the remote modem), else 4.
    int BoardFailure(const RegResult& result, const nlohmann::json& extra = nlohmann::json::object()) const;
    // The bus the subcommands work on: the session's console port.
    IRegisterBus& Bus() const { return session.Bus(); }
    // Asks on the terminal unless --yes was given; true to go on.
    bool Confirm(const std::string& question) const;

    const GlobalOptions& options;
    const Streams& streams;
    CliSession& session;
};

// Four upper-case hexadecimal characters "8hhh", as the terminal accepts them; false for anything else.
bool ParseAddress(const std::string& text, std::string* address);
// One or two hexadecimal digits as the two upper-case characters of a byte.
bool ParseByte(const std::string& text, std::string* value, std::uint8_t* byte);
// Two upper-case hexadecimal digits.
std::string Hex2(unsigned value);

} // namespace tessor::cli
