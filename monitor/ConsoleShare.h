#pragma once

// A board's console offered to one client at a time through the monitor that polls it: each whole line
// of the client goes to the board between two of the monitor's commands, and the board's echo, reply and
// prompt go back to that client only. As an RFC 2217 (telnet) accepter or a raw TCP one.

#include "link/RegisterBus.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessor::monitor {

struct ConsoleShareOptions {
    std::string host = "127.0.0.1";
    int port = 0;
    bool raw = false;      // raw TCP, no telnet
    bool writable = false; // write, or and and commands of the client go to the board
    // A client that sent part of a line and nothing more for this long is dropped.
    std::chrono::milliseconds partialLineLimit{2000};
    // The board's site and name in the inventory, labels of its counters besides the port; empty: none.
    std::string site;
    std::string board;
};

struct ConsoleShareCounts {
    std::uint64_t sessions = 0;
    std::uint64_t clientsRefused = 0;
    std::uint64_t commandsPassed = 0;
    std::uint64_t commandsRefused = 0;
};

// "[ADDRESS:]PORT": the address 127.0.0.1 when only the port is given.
bool ParseConsoleListen(const std::string& text, std::string* host, int* port);

// Whether the board would take a line as a write, an or or an and: after blanks, the word in either case.
bool IsChangingCommand(const std::string& line);
// Whether a read-only port refuses the line: every change, but the mailbox writes of a remote read.
bool IsRefusedWhenReadOnly(const std::string& line);
// The board's own answer to a command it does not carry out: the echo, "\n\rERROR\n\r" and the prompt.
std::string ErrorReply(const std::string& line, char promptLetter);

// Gathers the client's bytes into whole lines as the board edits them: a backspace or delete takes back a
// character; a line ends at a carriage return, a line feed, or both (a NUL after a carriage return, as a
// telnet client sends it, is dropped).
class CLineGatherer {
public:
    // The lines completed by the bytes, each with its one line-end character.
    std::vector<std::string> Add(const std::uint8_t* data, std::size_t len);
    // Whether part of a line has come in.
    bool Partial() const { return !m_line.empty(); }

private:
    std::string m_line;
    bool m_afterCr = false;
};

class CConsoleShare {
public:
    using PassLine = std::function<Outcome(const std::string& line, std::string* reply)>;
    using Log = std::function<void(const std::string&)>;
    static constexpr std::size_t kMaxLine = 256;

    CConsoleShare(std::string device, ConsoleShareOptions options, PassLine pass, Log log);
    ~CConsoleShare();
    CConsoleShare(const CConsoleShare&) = delete;
    CConsoleShare& operator=(const CConsoleShare&) = delete;

    // Listens and starts accepting; false with *error set when it cannot listen.
    bool Start(std::string* error);
    // Closes the port and ends a client's connection.
    void Stop();
    int Port() const { return m_port; }
    const std::string& Device() const { return m_device; }
    const ConsoleShareOptions& Options() const { return m_options; }
    ConsoleShareCounts Counts() const;

private:
    void AcceptLoop();
    void Serve(int fd, const std::string& peer);
    // What the client gets for one of its lines: the board's answer, or its error reply for a refused one.
    std::string Answer(const std::string& line, const std::string& peer, bool* answered);
    void Refuse(int fd, const std::string& peer);
    void Say(const std::string& text);

    std::string m_device;
    ConsoleShareOptions m_options;
    PassLine m_pass;
    Log m_log;
    int m_listenFd = -1;
    int m_wake[2] = {-1, -1}; // written once by Stop(): the accept loop and the client's loop end
    int m_port = 0;
    std::thread m_acceptThread;
    std::thread m_clientThread;
    mutable std::mutex m_mutex; // guards the holder and the counts
    bool m_held = false;
    std::string m_holder;
    std::string m_heldSince;
    ConsoleShareCounts m_counts;
    char m_promptLetter = 'L'; // the board's prompt letter as last seen (client thread only)
};

// The console ports' counters, labelled by port.
std::string RenderConsoleShares(const std::vector<const CConsoleShare*>& shares);

} // namespace tessor::monitor
