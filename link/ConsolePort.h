#pragma once

#include "link/AutoResetEvent.h"
#include "link/Hooks.h"
#include "link/RegisterBus.h"
#include "link/SerialDevice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tessor {

// Register operation codes. kSilentRead exists only inside the transport: a status read of 8C71 or 8C00
// that the terminal does not show.
enum RegOp : std::uint8_t { kRead = 1, kWrite = 2, kOr = 3, kAnd = 4, kSilentRead = 5 };

// The program's own address texts for the two link-status registers. The transport recognises its
// silent reads by these very pointers; the same text from elsewhere (typed, loaded) is shown.
extern const char kReg8C71[];
extern const char kReg8C00[];

// The serial console connection to the local modem: one command in flight at a time, sent and answered
// by a dedicated worker thread while the caller waits for the result, poll period by poll period.
class CConsolePort : public IRegisterBus {
public:
    // Opens the named device with the given settings; on failure returns null and sets *errorCode.
    using DeviceOpener = std::function<std::unique_ptr<SerialDevice>(const std::string& name,
                                                                     const LineSettings&, int* errorCode)>;

    static constexpr int kDefaultPollCount = 3500;
    static constexpr std::chrono::microseconds kDefaultPollPeriod{5000};
    // A console server that turns the connection away (its port busy: ser2net holds a device for tens of
    // milliseconds after a client has gone) is asked again after growing pauses, the first this long,
    // until the busy retry time has passed.
    static constexpr std::chrono::milliseconds kDefaultBusyRetry{1000};
    static constexpr std::chrono::milliseconds kFirstBusyPause{20};
    static constexpr int kReplyBufferSize = 52;
    static constexpr int kMaxReplyIndex = 50;

    static const char* const kNoResponseText;
    static const char* const kNoResponseTitle;

    explicit CConsolePort(IUserPrompt* prompt = nullptr);
    ~CConsolePort() override;
    CConsolePort(const CConsolePort&) = delete;
    CConsolePort& operator=(const CConsolePort&) = delete;

    // Replaces how device names are opened (default: COM names resolved to the system's serial devices).
    void SetDeviceOpener(DeviceOpener opener);
    // Test hook: the product keeps 3500 polls of 5 ms.
    void SetPollTiming(int pollCount, std::chrono::microseconds period);

    int Open(std::uint32_t baud, std::uint8_t byteSize, std::uint8_t parity, std::uint8_t stopBits,
             const char* deviceName);
    // Closes the device; a worker blocked in a read wakes up and the exchange is abandoned. Safe while
    // the worker runs: the worker keeps the device object until its own call on it has returned.
    void Close();
    // System error number of the last failed Open (0 if none).
    int LastOpenError() const { return m_lastOpenError; }
    // How long the opening and each command try again while the console server turns them away.
    void SetBusyRetry(std::chrono::milliseconds total) { m_busyRetry = total; }
    // The error number of the last device failure (0 if none): kNetworkPortBusy when the console server
    // was still turning the connection away when the busy retry time had passed.
    int LastDeviceError() const { return m_lastDeviceError.load(); }

    // One register operation and what happened to it.
    RegResult Exchange(std::uint8_t op, const char* address, const char* value) override;
    // A whole console line of another client (its line end included), sent between two of this port's
    // own commands: Answered with the board's echo, reply and prompt in *reply. Neither the terminal nor
    // the prompt letter sees it.
    Outcome PassLine(const std::string& line, std::string* reply);
    static constexpr std::size_t kMaxPassedReply = 4096;
    // Passed lines waiting for the port (a test hook).
    int LinesWaiting() {
        std::lock_guard<std::mutex> lock(m_ownerMutex);
        return m_linesWaiting;
    }
    int WriteBytes(const std::uint8_t* data, std::size_t len);
    int ReadBytes(std::uint8_t* data, std::size_t len);
    void ShowProblem(const std::string& text);

    // Worker thread body: returns 0 when woken with the stop flag set.
    int ConsoleWorkerThread();
    // Reads one reply up to the closing prompt into buf (kReplyBufferSize bytes). Returns the length
    // value L, or -1 when the exchange had to be abandoned (read failure or shutdown).
    int ReadReply(char* buf);
    static std::int64_t ParseReplyValue(const char* data, std::uint8_t length);
    // Whether a reply's data portion has exactly the form the command (its text, without line feed)
    // asks for: for a read of n registers at A, "\r", A in upper case, ":" and n fields of a blank and
    // two upper-case hexadecimal digits; for a write, an or and an and, nothing.
    static bool IsWellFormedData(const char* command, const char* data, int length);
    // The register bytes of a well-formed read reply's data portion, first register first.
    static std::vector<std::uint8_t> ReplyBytes(const char* data, int length);
    void EchoToTerminal(const char* text, bool commandLine);

    // Shutdown: wakes the worker (which then tests the stop flags) and any blocked read.
    void RequestStop();
    void WakeWorker() { m_requestEvent.Set(); }

    bool NoComm() const { return m_bNoComm.load() != 0; }

private:
    // Waits for the worker; Answered when it finished the command (its value is then in m_result), else
    // why it did not.
    Outcome WaitForResult();
    // One poll period of the wait: true as soon as the worker has finished the command (or a stop was
    // asked for), false when the period passed without either.
    bool WaitOnePeriod();
    // Wakes a caller waiting in WaitOnePeriod.
    void WakeCaller();
    // The outcome a refused command has: shutting down, or the transport has given up.
    Outcome RefusedOutcome() const;
    bool Stopping() const;
    // A passed line goes before the port's own next command: it waits for at most the one in flight.
    bool TakePort(bool passedLine = false);
    void ReleasePort();
    bool FormCommand(std::uint8_t op, const char* address, const char* value);
    void FinishCommand();
    // The worker's part of PassLine: sends m_passLine and reads up to the prompt after its line end.
    Outcome SendPassedLine();
    // Judges the reply of length L (ReadReply's value) to the command in m_cmd, shows it in the terminal
    // and sets m_replyOutcome, m_result and m_reply.
    void TakeReply(char* reply, int length);
    // The open device, reopened first when it was lost (an adapter pulled and plugged back in), without
    // holding the port lock while the opener runs. The caller shares it, so a Close() meanwhile cannot
    // free it under the caller's feet.
    std::shared_ptr<SerialDevice> Device();
    void DropLostDevice();
    void DiscardStaleInput();
    // Sends the command and reads its reply into reply (its length in *length, -1 when abandoned); false
    // when the send failed. While the console server turns the connection away, both are done again on
    // a new connection after a pause, until the busy retry time has passed.
    bool SendAndRead(char* reply, int* length);
    // Whether a failed transfer is the console server turning the connection away: it ended the
    // connection before the console said anything. Then the device is dropped, to be opened again.
    bool TurnedAway(const IoResult& r);
    // Waits the pause; false when a stop came first.
    bool PauseUnlessStopped(std::chrono::milliseconds pause);
    void ReportIoError(const char* what, int err, bool forCaller = false);
    // A send failure's "Problem" box is shown by the waiting caller, at once (on the UI thread a box
    // posted from the worker would wait until the caller's own wait had run out).
    void ShowCallersProblem();

    std::int64_t m_result = 0;
    // What the worker found in the reply, written before it clears the busy flag, like m_result.
    Outcome m_replyOutcome = Outcome::NoAnswer;
    std::string m_reply;               // a garbled reply as received
    std::vector<std::uint8_t> m_bytes; // an answered read: each register's byte, first register first
    std::uint8_t m_op = 0;
    bool m_passing = false;  // the command in flight is another client's line
    std::string m_passLine;  // that line, written by the caller before the worker is woken
    std::string m_passReply; // its echo, reply and prompt, written by the worker before it finishes
    char m_cmd[100] = {};
    std::uint8_t m_cmdLen = 0;
    std::atomic<int> m_bBusy{0};
    // The worker's signal that m_bBusy was cleared (or a stop asked for): the waiting caller wakes at once
    // rather than at the end of its poll period.
    std::mutex m_doneMutex;
    std::condition_variable m_doneCv;
    AutoResetEvent m_requestEvent;
    std::shared_ptr<SerialDevice> m_hPort;
    LineSettings m_settings;
    std::atomic<int> m_bNoComm{0};

    IUserPrompt* m_prompt;
    DeviceOpener m_opener;
    int m_lastOpenError = 0;
    int m_pollCount = kDefaultPollCount;
    std::chrono::microseconds m_pollPeriod = kDefaultPollPeriod;
    std::atomic<bool> m_stop{false};
    // Set while a caller owns the port, from taking it until it has collected its result.
    std::mutex m_ownerMutex;
    std::condition_variable m_ownerCv;
    bool m_owned = false;
    int m_linesWaiting = 0; // passed lines waiting for the port
    // A failing device is reported once per run of failures, not once per byte (worker thread only).
    bool m_ioErrorShown = false;
    std::atomic<bool> m_bSendFailed{false};
    std::mutex m_problemMutex;
    std::string m_callersProblem; // guarded by m_problemMutex
    std::atomic<bool> m_bCallersProblem{false};
    bool m_deviceLost = false;
    std::chrono::milliseconds m_busyRetry = kDefaultBusyRetry;
    // Whether the console has said anything on this connection (the start of an echo, a whole reply).
    std::atomic<bool> m_consoleSeen{false};
    bool m_turnedAway = false; // the last transfer's failure was the server turning it away (worker only)
    int m_reopenError = 0;     // why the last reopen failed (worker only)
    std::atomic<int> m_lastDeviceError{0};
    std::string m_deviceName;
    mutable std::mutex m_portMutex;     // guards m_hPort against Close() from another thread
    std::uint64_t m_portGeneration = 0; // counts Open() and Close(), so a reopen can tell it came late
};

// Process-wide objects of the board link.
extern std::atomic<CConsolePort*> g_pConsolePort;
extern std::atomic<int> g_bStopThreads;
extern std::atomic<std::uint8_t> g_promptLetter;
extern std::atomic<ITerminalSink*> g_pTerminalSink;

// Thread procedure for the process-wide port.
int ConsoleWorkerThread();

} // namespace tessor
