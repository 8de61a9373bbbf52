#pragma once

#include "sim/SimModemPair.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessor::sim {

// Bytes the board sends, and how long it waits before starting them.
struct OutputChunk {
    int delayMs = 0;
    std::string bytes;
};

// One Ethernet MAC counter value the console handed out: the snapshot a read of the counter's first
// register took (and cleared). It is intact when the whole value went out in a reply that a reader in
// step with the replies receives unaltered: its echo was not corrupted and nothing else (noise, for
// instance) went out since the previous prompt. Otherwise the value is lost to the reader.
struct CounterDelivery {
    std::uint16_t address = 0; // first register of the counter
    std::uint32_t value = 0;
    bool intact = false;
};

// How the console spoils its reply to a read that starts at a chosen register.
enum class ReplyFault {
    Normal,
    Error,        // the data portion "\rERROR"; nothing is read
    WrongAddress, // a well-formed reply for the address 0x10 further on, with the real registers' values
    Short,        // one field fewer than asked (the address and colon only for one register)
    Empty,        // an empty data portion
};

// The local modem's text console: echoes what it receives, carries out one register command per line and
// answers with the data portion and the prompt. Command lines (upper or lower case, ended by a line feed,
// a carriage return or both):
//   RD aaaa[,n]   read n (1..9) registers from aaaa   ->  "\raaaa: vv vv ..."
//   WR aaaa vv    write vv                            ->  empty data portion
//   OR aaaa vv    set the bits of vv
//   ND aaaa vv    keep only the bits of vv
// Every answered line ends with "\n", the data portion, "\n\r" and the prompt "L>". An unknown or malformed
// command gets the data portion "\rERROR". An empty line gets just a fresh prompt.
// Not thread-safe; the owner serialises calls and advances the model's clock.
class CSimConsole {
public:
    static constexpr char kPromptLetter = 'L';
    static constexpr std::size_t kMaxLine = 64;

    explicit CSimConsole(CSimModemPair& pair);

    // Takes bytes from the line; what the board answers collects in the output.
    void Receive(const std::uint8_t* data, std::size_t len);
    void Receive(const std::string& text);
    // Hands over (and forgets) everything the board has sent since the last call.
    std::vector<OutputChunk> TakeOutput();

    // Faults.
    // A silent board reads and drops everything; when it comes back it sends a fresh prompt, as after a
    // reset, so that a reader waiting for a prompt finishes.
    void SetSilent(bool silent);
    bool Silent() const { return m_silent; }
    // The first character of the next echoed command comes back wrong (the command itself is carried out).
    void CorruptNextEcho();
    // Sends count bytes of line noise at once. Noise never contains a prompt letter, ">" or a line end.
    void InjectNoise(std::size_t count);
    // Line noise that hits the next exchange: sent as the next command's first character arrives, so it
    // stands in front of that command's echo.
    void InjectNoiseBeforeNextEcho(std::size_t count) { m_noiseBeforeEcho = count; }
    // Waits ms before the answer of every later command line (the echo of typed characters stays immediate).
    void SetReplyDelayMs(int ms);
    int ReplyDelayMs() const { return m_replyDelayMs; }
    // A read starting at address is answered with the fault (Normal ends it); the registers are read as
    // usual except for Error, and a counter value such a reply carried counts as lost in the ledger.
    void SetReplyFault(std::uint16_t address, ReplyFault fault);
    void ClearReplyFaults() { m_replyFaults.clear(); }

    // Carries out one command line (without its line end) and returns the data portion of the answer.
    std::string Execute(const std::string& line);

    // Ledger of the Ethernet counter values handed out since the last call, oldest first.
    std::vector<CounterDelivery> TakeCounterDeliveries();
    // The reader threw away everything sent so far (noise included): the next reply reaches it whole.
    void NoteOutputDiscarded();

private:
    void Emit(std::string bytes, int delayMs = 0);
    std::string ReadData(unsigned address, unsigned count, ReplyFault fault);
    void EndLine();

    CSimModemPair& m_pair;
    std::string m_line;
    bool m_overflow = false;
    bool m_lastWasCr = false;
    bool m_silent = false;
    bool m_corruptEcho = false;
    int m_replyDelayMs = 0;
    // Nothing but whole replies has gone out since the last prompt, and no echo was altered.
    bool m_streamClean = true;
    std::size_t m_noiseBeforeEcho = 0;
    // Whether the reply of the command being carried out reaches the reader unaltered.
    bool m_replyIntact = true;
    std::vector<CounterDelivery> m_deliveries;
    std::map<std::uint16_t, ReplyFault> m_replyFaults;
    std::uint32_t m_noiseState = 0x2545F491;
    std::vector<OutputChunk> m_output;
};

} // namespace tessor::sim
