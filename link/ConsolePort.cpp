#include "link/ConsolePort.h"

#include "link/NetworkSerialDevice.h"
#include "link/SerialPort.h"

#include <cstdio>
#include <cstring>

namespace tessor {

const char kReg8C71[] = "8C71";
const char kReg8C00[] = "8C00";

std::atomic<CConsolePort*> g_pConsolePort{nullptr};
std::atomic<int> g_bStopThreads{0};
std::atomic<std::uint8_t> g_promptLetter{0};
std::atomic<ITerminalSink*> g_pTerminalSink{nullptr};

const char* const CConsolePort::kNoResponseTitle = "Hardware does not respond";
const char* const CConsolePort::kNoResponseText =
    "RETRY:\tRetry establishing connection.\n\tPlease check serial connection\n\tto the board, COM port "
    "settings\n\tand perform a hardware reset\n\tbefore pressing RETRY.\nCANCEL:\tDisplay application "
    "dialog.\n\tNo communication to board possible\n";

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<SerialDevice> OpenDefaultDevice(const std::string& name, const LineSettings& settings,
                                                int* errorCode) {
    return OpenSerialDevice(ResolveComName(name, nullptr), settings, errorCode);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

bool IsUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

char UpperCase(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsShownCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ':' || c == ' ';
}

} // namespace

CConsolePort::CConsolePort(IUserPrompt* prompt) : m_prompt(prompt), m_opener(OpenDefaultDevice) {}

CConsolePort::~CConsolePort() {
    Close();
}

void CConsolePort::SetDeviceOpener(DeviceOpener opener) {
    m_opener = std::move(opener);
}

void CConsolePort::SetPollTiming(int pollCount, std::chrono::microseconds period) {
    m_pollCount = pollCount;
    m_pollPeriod = period;
}

int CConsolePort::Open(std::uint32_t baud, std::uint8_t byteSize, std::uint8_t parity, std::uint8_t stopBits,
                       const char* deviceName) {
    m_settings.baud = baud;
    m_settings.byteSize = byteSize;
    m_settings.parity = parity;
    m_settings.stopBits = stopBits;
    m_deviceName = deviceName ? deviceName : "";
    std::unique_ptr<SerialDevice> device;
    const Clock::time_point giveUp = Clock::now() + m_busyRetry;
    for (std::chrono::milliseconds pause = kFirstBusyPause;; pause *= 2) {
        m_lastOpenError = 0;
        device = m_opener(m_deviceName, m_settings, &m_lastOpenError);
        if (device || m_lastOpenError != kNetworkPortBusy || Clock::now() + pause > giveUp ||
            !PauseUnlessStopped(pause))
            break;
    }
    if (!device) {
        if (m_lastOpenError == 0)
            m_lastOpenError = NoDeviceError();
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_portMutex);
    m_hPort = std::move(device);
    m_consoleSeen.store(false);
    ++m_portGeneration;
    return 1;
}

void CConsolePort::Close() {
    std::shared_ptr<SerialDevice> device;
    {
        std::lock_guard<std::mutex> lock(m_portMutex);
        device.swap(m_hPort);
        m_deviceLost = false; // closed on purpose: not to be reopened
        ++m_portGeneration;
    }
    // A worker blocked on the device wakes up; the device goes when the last user lets go of it.
    if (device)
        device->Interrupt();
}

bool CConsolePort::Stopping() const {
    return m_stop.load() || g_bStopThreads.load() != 0;
}

void CConsolePort::RequestStop() {
    m_stop.store(true);
    {
        std::lock_guard<std::mutex> lock(m_portMutex);
        if (m_hPort)
            m_hPort->Interrupt();
    }
    m_requestEvent.Set();
    m_ownerCv.notify_all();
    WakeCaller();
}

// Takes the port for one command. Waits while another caller owns it, but gives up as soon as the
// no-communication latch is set (so a UI thread can show the box another thread asked for).
bool CConsolePort::TakePort(bool passedLine) {
    std::unique_lock<std::mutex> lock(m_ownerMutex);
    if (passedLine)
        ++m_linesWaiting;
    bool taken = false;
    while (!m_bNoComm.load() && !Stopping()) {
        if (!m_owned && (passedLine || m_linesWaiting == 0)) {
            m_owned = true;
            taken = true;
            break;
        }
        m_ownerCv.wait_for(lock, m_pollPeriod);
    }
    if (passedLine) {
        --m_linesWaiting;
        m_ownerCv.notify_all();
    }
    return taken;
}

void CConsolePort::ReleasePort() {
    {
        std::lock_guard<std::mutex> lock(m_ownerMutex);
        m_owned = false;
    }
    m_ownerCv.notify_all();
}

bool CConsolePort::FormCommand(std::uint8_t op, const char* address, const char* value) {
    static const char* const kWords[] = {"RD", "WR", "OR", "ND"};
    if (op < kRead || op > kAnd)
        return false;
    int n = 0;
    m_cmd[n++] = kWords[op - 1][0];
    m_cmd[n++] = kWords[op - 1][1];
    m_cmd[n++] = ' ';
    for (int i = 0; i < 4; ++i)
        m_cmd[n++] = address[i];
    if (op == kRead) {
        if (value[1] != '1') {
            m_cmd[n++] = ',';
            m_cmd[n++] = value[1];
        }
    } else {
        m_cmd[n++] = ' ';
        m_cmd[n++] = value[0];
        m_cmd[n++] = value[1];
    }
    m_cmd[n++] = '\n';
    m_cmd[n] = '\0';
    m_cmdLen = static_cast<std::uint8_t>(n);
    return true;
}

Outcome CConsolePort::RefusedOutcome() const {
    return Stopping() ? Outcome::Cancelled : Outcome::NoAnswer;
}

RegResult CConsolePort::Exchange(std::uint8_t op, const char* address, const char* value) {
    if (m_bNoComm.load() || Stopping() || !TakePort())
        return RegResult::Fail(RefusedOutcome());
    m_cmdLen = 0;
    m_op = op;
    if (!FormCommand(op, address, value)) {
        ReleasePort();
        return RegResult::Fail(Outcome::DeviceFailed);
    }
    if (op == kRead && value[1] == '1' && (address == kReg8C71 || address == kReg8C00))
        m_op = kSilentRead;
    m_result = 0;
    m_replyOutcome = Outcome::NoAnswer; // until the worker has checked the echo
    m_bBusy.store(1);
    m_requestEvent.Set();
    const Outcome waited = WaitForResult();
    // Only an answered exchange says anything; a time-out or shutdown says why it did not.
    const Outcome outcome = waited == Outcome::Answered ? m_replyOutcome : waited;
    RegResult result = outcome == Outcome::Answered ? RegResult::Answer(m_result) : RegResult::Fail(outcome);
    if (outcome == Outcome::Garbled)
        result.reply = m_reply;
    if (outcome == Outcome::Answered && op == kRead)
        result.bytes = m_bytes;
    ReleasePort();
    return result;
}

Outcome CConsolePort::PassLine(const std::string& line, std::string* reply) {
    if (line.empty() || m_bNoComm.load() || Stopping() || !TakePort(true))
        return RefusedOutcome();
    m_passLine = line;
    m_passReply.clear();
    m_passing = true;
    m_replyOutcome = Outcome::NoAnswer;
    m_bBusy.store(1);
    m_requestEvent.Set();
    const Outcome waited = WaitForResult();
    const Outcome outcome = waited == Outcome::Answered ? m_replyOutcome : waited;
    if (outcome == Outcome::Answered)
        *reply = m_passReply;
    m_passing = false;
    ReleasePort();
    return outcome;
}

Outcome CConsolePort::SendPassedLine() {
    DiscardStaleInput();
    if (!WriteBytes(reinterpret_cast<const std::uint8_t*>(m_passLine.data()), m_passLine.size()))
        return Outcome::DeviceFailed;
    // The echo ends with the line end; the board's prompt (a letter and ">") follows its reply.
    bool lineEnded = false;
    bool letterSeen = false;
    for (;;) {
        std::uint8_t byte = 0;
        if (!ReadBytes(&byte, 1))
            return Outcome::DeviceFailed;
        m_passReply.push_back(static_cast<char>(byte));
        if (m_passReply.size() >= kMaxPassedReply)
            return Outcome::Garbled;
        if (byte == '\n' || byte == '\r') {
            lineEnded = true;
            letterSeen = false;
        } else if (lineEnded && letterSeen && byte == '>') {
            return Outcome::Answered;
        } else {
            letterSeen = byte == 'L' || byte == 'M' || byte == 'R';
        }
    }
}

Outcome CConsolePort::WaitForResult() {
    for (;;) {
        if (m_bBusy.load()) {
            bool finished = false;
            for (int i = 0; i < m_pollCount; ++i) {
                if (WaitOnePeriod() && !m_bBusy.load()) {
                    finished = true;
                    break;
                }
                ShowCallersProblem();
                if (Stopping())
                    return Outcome::Cancelled;
            }
            if (!finished) {
                ShowCallersProblem();
                m_bNoComm.store(1);
                const IUserPrompt::Answer answer = m_prompt
                                                       ? m_prompt->AskHardwareNotResponding(kNoResponseText)
                                                       : IUserPrompt::Answer::Cancel;
                if (Stopping())
                    return Outcome::Cancelled;
                // CANCEL, or the box closed some other way: no answer, and the transport refuses what
                // follows.
                if (answer != IUserPrompt::Answer::Retry)
                    return m_bSendFailed.load() ? Outcome::DeviceFailed : Outcome::NoAnswer;
                // A command whose send failed is sent again, so that a board or adapter that came back
                // can answer it.
                if (m_bSendFailed.exchange(false))
                    m_requestEvent.Set();
                continue;
            }
        }
        m_bNoComm.store(0);
        return Outcome::Answered;
    }
}

bool CConsolePort::WaitOnePeriod() {
    std::unique_lock<std::mutex> lock(m_doneMutex);
    return m_doneCv.wait_for(lock, m_pollPeriod, [this] { return !m_bBusy.load() || Stopping(); });
}

void CConsolePort::WakeCaller() {
    // Taken and let go, so a caller between testing the flags and going to sleep cannot miss the call.
    { std::lock_guard<std::mutex> lock(m_doneMutex); }
    m_doneCv.notify_all();
}

std::shared_ptr<SerialDevice> CConsolePort::Device() {
    std::string name;
    LineSettings settings;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_portMutex);
        if (m_hPort || !m_deviceLost || m_deviceName.empty() || Stopping())
            return m_hPort;
        name = m_deviceName;
        settings = m_settings;
        generation = m_portGeneration;
    }
    // The reopen runs unlocked: an unreachable console server takes its whole connect time-out, and
    // Close() or a stop must not wait for that.
    int err = 0;
    std::shared_ptr<SerialDevice> reopened = m_opener(name, settings, &err);
    m_reopenError = reopened ? 0 : err;
    std::lock_guard<std::mutex> lock(m_portMutex);
    // Closed (or opened anew) meanwhile: the reopened device is let go unused, after the lock.
    if (reopened && m_deviceLost && generation == m_portGeneration) {
        m_hPort = std::move(reopened);
        m_deviceLost = false;
        m_consoleSeen.store(false);
    }
    return m_hPort;
}

void CConsolePort::DiscardStaleInput() {
    if (const std::shared_ptr<SerialDevice> device = Device())
        device->Purge();
}

void CConsolePort::DropLostDevice() {
    std::lock_guard<std::mutex> lock(m_portMutex);
    m_hPort.reset();
    m_deviceLost = true;
}

void CConsolePort::ReportIoError(const char* what, int err, bool forCaller) {
    if (m_ioErrorShown)
        return;
    m_ioErrorShown = true;
    std::string text = std::string(what) + " " + SystemErrorText(err);
    if (!forCaller) {
        ShowProblem(text);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_problemMutex);
        m_callersProblem = std::move(text);
    }
    m_bCallersProblem.store(true);
}

void CConsolePort::ShowCallersProblem() {
    if (!m_bCallersProblem.exchange(false))
        return;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(m_problemMutex);
        text.swap(m_callersProblem);
    }
    ShowProblem(text);
}

bool CConsolePort::TurnedAway(const IoResult& r) {
    m_turnedAway = r.status == IoResult::HungUp && !m_consoleSeen.load() && IsEndedByServer(r.errorCode);
    if (m_turnedAway)
        DropLostDevice();
    return m_turnedAway;
}

bool CConsolePort::PauseUnlessStopped(std::chrono::milliseconds pause) {
    std::unique_lock<std::mutex> lock(m_doneMutex);
    return !m_doneCv.wait_for(lock, pause, [this] { return Stopping(); });
}

// Called by the worker for the command a caller is waiting for; that caller shows a failure's box.
int CConsolePort::WriteBytes(const std::uint8_t* data, std::size_t len) {
    m_turnedAway = false;
    m_reopenError = 0;
    const std::shared_ptr<SerialDevice> device = Device();
    if (!device) {
        m_turnedAway = m_reopenError == kNetworkPortBusy;
        if (!m_turnedAway) {
            m_lastDeviceError.store(NoDeviceError());
            ReportIoError("Error while writing data:", NoDeviceError(), true);
        }
        return 0;
    }
    const IoResult r = device->Write(data, len);
    if (r.ok())
        return 1;
    if (r.status == IoResult::Interrupted || TurnedAway(r))
        return 0;
    m_lastDeviceError.store(r.errorCode);
    ReportIoError("Error while writing data:", r.errorCode, true);
    if (r.status == IoResult::HungUp)
        DropLostDevice();
    return 0;
}

int CConsolePort::ReadBytes(std::uint8_t* data, std::size_t len) {
    m_turnedAway = false;
    const std::shared_ptr<SerialDevice> device = Device();
    if (!device) {
        m_lastDeviceError.store(NoDeviceError());
        ReportIoError("Error while reading data:", NoDeviceError());
        return 0;
    }
    std::size_t done = 0;
    while (done < len) {
        const IoResult r = device->Read(data + done, len - done);
        if (r.ok()) {
            done += r.count;
            continue;
        }
        if (r.status != IoResult::Interrupted && !TurnedAway(r)) {
            m_lastDeviceError.store(r.errorCode);
            ReportIoError("Error while reading data:", r.errorCode);
            if (r.status == IoResult::HungUp)
                DropLostDevice();
        }
        return 0;
    }
    return 1;
}

void CConsolePort::ShowProblem(const std::string& text) {
    const std::string formatted = text + " \n";
    if (m_prompt)
        m_prompt->ShowProblem(formatted);
    else
        std::fprintf(stderr, "Problem: %s", formatted.c_str());
}

int CConsolePort::ReadReply(char* buf) {
    int i = 0;
    bool letterSeen = false;
    for (;;) {
        std::uint8_t byte = 0;
        if (!ReadBytes(&byte, 1))
            return -1; // abandoned: the device failed or we are shutting down
        // The echo begins: the console speaks on this connection (a console server's own text on
        // turning a client away does not begin with the command).
        if (i == 0 && byte == static_cast<std::uint8_t>(m_cmd[0]))
            m_consoleSeen.store(true);
        buf[i] = static_cast<char>(byte);
        if (i < kMaxReplyIndex)
            ++i;
        if (!letterSeen) {
            if (byte == 'L' || byte == 'M' || byte == 'R') {
                g_promptLetter.store(byte == 'L' ? 1 : byte == 'M' ? 2 : 3);
                letterSeen = true;
            }
            continue;
        }
        if (byte == '>')
            break;
        letterSeen = false;
    }
    buf[i] = '\0';
    m_consoleSeen.store(true);
    return i + 1 < kMaxReplyIndex ? i + 1 : kMaxReplyIndex;
}

std::int64_t CConsolePort::ParseReplyValue(const char* data, std::uint8_t length) {
    // The value is kept shifted left by one digit, so once more than 15 digits arrive the oldest ones
    // fall off first. A field that starts before the data reads as "0" and ends the parse.
    std::uint64_t value = 0;
    int p = length;
    for (;;) {
        const int first = p - 2 >= 0 ? HexDigit(data[p - 2]) : 0;
        const int second = p - 1 >= 0 ? HexDigit(data[p - 1]) : 0;
        value = (value | static_cast<std::uint64_t>(first)) << 4;
        value = (value | static_cast<std::uint64_t>(second)) << 4;
        if (p - 2 < 0)
            break;
        p -= 3;
        if (p < 9)
            break;
    }
    return static_cast<std::int64_t>(value >> 4);
}

bool CConsolePort::IsWellFormedData(const char* command, const char* data, int length) {
    if (command[0] != 'R')
        return length == 0; // WR, OR, ND
    // "RD aaaa" or "RD aaaa,n": the board answers upper case whatever case the address was sent in.
    const char countDigit = command[7] == ',' ? command[8] : '1';
    if (countDigit < '1' || countDigit > '9')
        return false;
    const int count = countDigit - '0';
    if (length != 6 + 3 * count || data[0] != '\r' || data[5] != ':')
        return false;
    for (int i = 0; i < 4; ++i) {
        if (!IsUpperHexDigit(data[1 + i]) || data[1 + i] != UpperCase(command[3 + i]))
            return false;
    }
    for (const char* field = data + 6; field < data + length; field += 3) {
        if (field[0] != ' ' || !IsUpperHexDigit(field[1]) || !IsUpperHexDigit(field[2]))
            return false;
    }
    return true;
}

std::vector<std::uint8_t> CConsolePort::ReplyBytes(const char* data, int length) {
    std::vector<std::uint8_t> bytes;
    for (int field = 6; field + 3 <= length; field += 3)
        bytes.push_back(
            static_cast<std::uint8_t>(HexDigit(data[field + 1]) << 4 | HexDigit(data[field + 2])));
    return bytes;
}

void CConsolePort::EchoToTerminal(const char* text, bool commandLine) {
    std::string line;
    if (commandLine) {
        switch (g_promptLetter.load()) {
        case 1:
            line = "L> ";
            break;
        case 2:
            line = "M> ";
            break;
        case 3:
            line = "R> ";
            break;
        default:
            break;
        }
    }
    for (const char* c = text; *c; ++c)
        line += IsShownCharacter(*c) ? *c : ' ';
    if (ITerminalSink* sink = g_pTerminalSink.load())
        sink->QueueLine(line, m_op);
}

void CConsolePort::TakeReply(char* reply, int length) {
    m_result = 0;
    m_bytes.clear();
    // An abandoned exchange (the device failed) shows in the terminal as a failed echo does.
    if (length < 0 || std::memcmp(reply, m_cmd, m_cmdLen - 1u) != 0) {
        EchoToTerminal(" - RESET - ", false);
        m_replyOutcome = length < 0 ? Outcome::DeviceFailed : Outcome::Garbled;
        m_reply.assign(reply, static_cast<std::size_t>(length > 0 ? length - 1 : 0));
        return;
    }
    m_reply.assign(reply, static_cast<std::size_t>(length - 1));
    m_ioErrorShown = false;
    int dataLength = length - m_cmdLen - 5;
    if (dataLength < 0)
        dataLength = 0;
    char* data = reply + m_cmdLen;
    data[dataLength] = '\0';
    const bool read = m_op == kRead || m_op == kSilentRead;
    if (read)
        EchoToTerminal(data, false);
    if (!IsWellFormedData(m_cmd, data, dataLength)) {
        m_replyOutcome = Outcome::Garbled; // the value stays 0, as for a failed echo
        return;
    }
    m_replyOutcome = Outcome::Answered;
    m_result = read ? ParseReplyValue(data, static_cast<std::uint8_t>(dataLength)) : 1;
    if (read)
        m_bytes = ReplyBytes(data, dataLength);
}

void CConsolePort::FinishCommand() {
    m_bBusy.store(0);
    WakeCaller();
}

int CConsolePort::ConsoleWorkerThread() {
    for (;;) {
        m_requestEvent.Wait();
        if (Stopping())
            return 0;
        if (!m_bBusy.load())
            continue; // woken without a command (a retry after the command was already answered)
        if (m_passing) {
            const Outcome outcome = SendPassedLine();
            if (Stopping())
                return 0;
            m_replyOutcome = outcome;
            FinishCommand();
            continue;
        }
        char reply[kReplyBufferSize] = {};
        int length = -1;
        if (!SendAndRead(reply, &length)) {
            m_bSendFailed.store(true);
            continue; // the caller's wait runs out and asks the user
        }
        if (Stopping())
            return 0;
        TakeReply(reply, length);
        FinishCommand();
    }
}

bool CConsolePort::SendAndRead(char* reply, int* length) {
    Clock::time_point giveUp{};
    std::chrono::milliseconds pause = kFirstBusyPause;
    bool echoed = false;
    m_lastDeviceError.store(0); // what this command meets
    for (bool first = true;; first = false) {
        // The board speaks only when spoken to: whatever arrived since the last reply (a prompt after a
        // reset, line noise) is stale and would otherwise be read as this command's reply.
        DiscardStaleInput();
        m_cmd[m_cmdLen - 1] = '\n';
        const bool sent = WriteBytes(reinterpret_cast<const std::uint8_t*>(m_cmd), m_cmdLen);
        if (sent) {
            m_cmd[m_cmdLen - 1] = '\0';
            if (!echoed)
                EchoToTerminal(m_cmd, true);
            echoed = true;
            *length = ReadReply(reply);
            if (*length >= 0)
                return true;
        }
        if (!m_turnedAway)
            return sent;
        const Clock::time_point now = Clock::now();
        if (first)
            giveUp = now + m_busyRetry;
        if (now + pause > giveUp || !PauseUnlessStopped(pause)) {
            // Given up: the command ends at once, its device failed, and the user learns why.
            m_cmd[m_cmdLen - 1] = '\0';
            m_lastDeviceError.store(kNetworkPortBusy);
            ReportIoError(sent ? "Error while reading data:" : "Error while writing data:", kNetworkPortBusy);
            *length = -1;
            return true;
        }
        pause *= 2;
    }
}

int ConsoleWorkerThread() {
    CConsolePort* port = g_pConsolePort.load();
    return port ? port->ConsoleWorkerThread() : 0;
}

} // namespace tessor
